# Compiler flags that depend on who builds.
#
# Warnings are errors where Lumivex is developed and tested (./run, ./test and CI turn
# LUMIVEX_WERROR on, and so does every build type but Release): a new warning stops the build
# there. A user's or a packager's Release build only shows them, since another compiler release
# may warn where ours does not.
if(CMAKE_BUILD_TYPE STREQUAL "Release")
  set(lumivex_werror_default OFF)
else()
  set(lumivex_werror_default ON)
endif()
option(LUMIVEX_WERROR "Treat compiler warnings as errors" ${lumivex_werror_default})

# A Release build on Debian takes the distribution's hardening flags from dpkg-buildflags, as a
# Debian package is built: stack protector, _FORTIFY_SOURCE, read-only relocations bound at load.
find_program(LUMIVEX_DPKG_BUILDFLAGS dpkg-buildflags)
if(LUMIVEX_DPKG_BUILDFLAGS)
  set(lumivex_distribution_default ON)
else()
  set(lumivex_distribution_default OFF)
endif()
option(LUMIVEX_DISTRIBUTION_FLAGS "Add the flags of dpkg-buildflags to a Release build"
       ${lumivex_distribution_default})
if(CMAKE_BUILD_TYPE STREQUAL "Release" AND LUMIVEX_DISTRIBUTION_FLAGS AND LUMIVEX_DPKG_BUILDFLAGS)
  foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
              ${LUMIVEX_DPKG_BUILDFLAGS} --get ${kind}
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}  # the prefix map names the source tree
      OUTPUT_VARIABLE lumivex_${kind} OUTPUT_STRIP_TRAILING_WHITESPACE)
  endforeach()
  # The optimization stays the build type's and no debugging information is added: the
  # installed programs would only carry it unused.
  string(REGEX REPLACE "(^| )-(g|O[0-9s])( |$)" " " lumivex_CXXFLAGS "${lumivex_CXXFLAGS}")
  set(CMAKE_CXX_FLAGS "${CMAKE_CXX_FLAGS} ${lumivex_CPPFLAGS} ${lumivex_CXXFLAGS}")
  set(CMAKE_EXE_LINKER_FLAGS "${CMAKE_EXE_LINKER_FLAGS} ${lumivex_LDFLAGS}")
  set(CMAKE_SHARED_LINKER_FLAGS "${CMAKE_SHARED_LINKER_FLAGS} ${lumivex_LDFLAGS}")
  set(CMAKE_MODULE_LINKER_FLAGS "${CMAKE_MODULE_LINKER_FLAGS} ${lumivex_LDFLAGS}")
endif()
