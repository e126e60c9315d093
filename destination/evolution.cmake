# The GNOME / Evolution destination, over Evolution Data Server's client library: a static
# library (its tests link it), built into the module lumivex-evolution.so that the programs load
# when Evolution's books are used (EvolutionModule.h).
pkg_check_modules(EBOOK IMPORTED_TARGET libebook-1.2)
if(NOT EBOOK_FOUND)
  message(FATAL_ERROR "libebook-1.2 was not found: install the package libebook1.2-dev "
                      "(Evolution Data Server's client library, for the GNOME / Evolution "
                      "address books)")
endif()
add_library(lumivex_evolution STATIC)
target_sources(lumivex_evolution PRIVATE ${CMAKE_CURRENT_LIST_DIR}/EvolutionBook.cpp)
target_link_libraries(lumivex_evolution PUBLIC lumivex_destination lumivex_contact PRIVATE PkgConfig::EBOOK)
lumivex_target(lumivex_evolution)

# The module exports its entry point alone: what it takes from our static libraries stays its
# own, and loading it binds few symbols.
add_library(lumivex_evolution_module MODULE ${CMAKE_CURRENT_LIST_DIR}/EvolutionModuleEntry.cpp)
target_link_libraries(lumivex_evolution_module PRIVATE lumivex_evolution)
target_link_options(lumivex_evolution_module PRIVATE -Wl,--exclude-libs,ALL -Wl,--no-undefined)
set_target_properties(lumivex_evolution_module PROPERTIES
  PREFIX "" OUTPUT_NAME lumivex-evolution
  LIBRARY_OUTPUT_DIRECTORY ${LUMIVEX_MODULE_OUTPUT_DIR})
lumivex_target(lumivex_evolution_module)
# Built with the programs that load it; installed where they look for it, where the package's
# dependencies are also found from it (libebook among them).
add_dependencies(lumivex lumivex_evolution_module)
add_dependencies(lumivex-cli lumivex_evolution_module)
install(TARGETS lumivex_evolution_module LIBRARY DESTINATION ${LUMIVEX_MODULE_DEST})
