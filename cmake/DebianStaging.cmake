# Run by cpack on the staged tree of the Debian package, before it is packed: adds the files
# every Debian package carries and strips the programs as Debian's own tools do.
# CPACK_LUMIVEX_DEBIAN_SOURCE (the folder with copyright, changelog and lintian-overrides) and
# CPACK_LUMIVEX_STRIP come from the package's configuration.
set(root "${CPACK_TEMPORARY_DIRECTORY}")
set(doc "${root}/usr/share/doc/lumivex")
file(MAKE_DIRECTORY "${doc}" "${root}/usr/share/lintian/overrides")
file(COPY_FILE "${CPACK_LUMIVEX_DEBIAN_SOURCE}/copyright" "${doc}/copyright")
file(COPY_FILE "${CPACK_LUMIVEX_DEBIAN_SOURCE}/lintian-overrides"
     "${root}/usr/share/lintian/overrides/lumivex")
# Compressed without a name or time inside, so that the same changelog gives the same bytes.
execute_process(COMMAND gzip -9n -c "${CPACK_LUMIVEX_DEBIAN_SOURCE}/changelog"
                OUTPUT_FILE "${doc}/changelog.Debian.gz" COMMAND_ERROR_IS_FATAL ANY)
# No symbols, no debugging information, and none of the sections only the build leaves
# (compiler notes and comments); the same for the modules the programs load.
file(GLOB_RECURSE programs "${root}/usr/bin/*" "${root}/usr/lib/*.so")
foreach(program ${programs})
  execute_process(COMMAND "${CPACK_LUMIVEX_STRIP}" --remove-section=.comment --remove-section=.note
                          --strip-unneeded "${program}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
# Files keep the modes Debian expects whatever the umask of the build.
file(GLOB_RECURSE staged "${root}/usr/*")
foreach(file ${staged})
  if(NOT file MATCHES "/usr/bin/")
    file(CHMOD "${file}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  endif()
endforeach()
# Depends: the libraries the programs link, as dpkg-shlibdeps finds their packages (Qt 6,
# libpff, zlib, the C and C++ runtimes). The modules the programs load when first used (the
# keyring's, Evolution's address books') link libraries most users never need: their packages
# are only recommended, and a program whose module cannot load says which package to install.
find_program(shlibdeps dpkg-shlibdeps REQUIRED)
set(work "${root}/../lumivex-shlibdeps")
file(REMOVE_RECURSE "${work}")
file(MAKE_DIRECTORY "${work}/debian")
file(WRITE "${work}/debian/control" "Source: lumivex\n\nPackage: lumivex\nArchitecture: any\n")
function(lumivex_shlibdeps output)
  set(arguments)
  foreach(file ${ARGN})
    list(APPEND arguments "-e${file}")
  endforeach()
  execute_process(COMMAND "${shlibdeps}" -O ${arguments} WORKING_DIRECTORY "${work}"
                  OUTPUT_VARIABLE found ERROR_VARIABLE errors COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCH "shlibs:Depends=([^\n]*)" found "${found}")
  string(REPLACE ", " ";" found "${CMAKE_MATCH_1}")
  set(${output} "${found}" PARENT_SCOPE)
endfunction()
file(GLOB program_files "${root}/usr/bin/*")
file(GLOB_RECURSE module_files "${root}/usr/lib/*.so")
lumivex_shlibdeps(depends ${program_files})
lumivex_shlibdeps(module_depends ${module_files})
set(recommends ${CPACK_DEBIAN_PACKAGE_RECOMMENDS})
foreach(dependency ${module_depends})
  string(REGEX REPLACE " .*" "" name "${dependency}")
  set(known FALSE)
  foreach(other ${depends})
    string(REGEX REPLACE " .*" "" other "${other}")
    if(other STREQUAL name)
      set(known TRUE)
    endif()
  endforeach()
  if(NOT known)
    list(APPEND recommends "${dependency}")
  endif()
endforeach()
file(REMOVE_RECURSE "${work}")
list(JOIN depends ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
list(JOIN recommends ", " CPACK_DEBIAN_PACKAGE_RECOMMENDS)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
message(STATUS "Depends: ${CPACK_DEBIAN_PACKAGE_DEPENDS}")
message(STATUS "Recommends: ${CPACK_DEBIAN_PACKAGE_RECOMMENDS}")
