# The GNOME / Evolution destination, over Evolution Data Server's client library.
pkg_check_modules(EBOOK REQUIRED IMPORTED_TARGET libebook-1.2)
add_library(lumivex_evolution STATIC)
target_sources(lumivex_evolution PRIVATE ${CMAKE_CURRENT_LIST_DIR}/EvolutionBook.cpp)
target_link_libraries(lumivex_evolution PUBLIC lumivex_destination lumivex_contact PRIVATE PkgConfig::EBOOK)
lumivex_target(lumivex_evolution)
# The windows send through it too.
target_link_libraries(lumivex_ui PUBLIC lumivex_evolution)
