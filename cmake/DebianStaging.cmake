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
