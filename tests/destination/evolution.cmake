# The Evolution Data Server destination, against a real server on a bus of the test's own.
add_library(lumivex_eds_session STATIC ${CMAKE_CURRENT_LIST_DIR}/EdsSession.cpp)
pkg_check_modules(GIO REQUIRED IMPORTED_TARGET gio-2.0)
target_link_libraries(lumivex_eds_session PUBLIC lumivex_testsupport PRIVATE PkgConfig::GIO)
lumivex_target(lumivex_eds_session)
lumivex_test(evolution_book_tests ${CMAKE_CURRENT_LIST_DIR}/EvolutionBookTest.cpp
  LIBS lumivex_evolution lumivex_eds_session lumivex_utf8_readers lumivex_merge)
add_dependencies(evolution_book_tests lumivex_sample_store lumivex-cli)
# The send test's Evolution cases start their server the same way.
target_link_libraries(destination_send_tests PRIVATE lumivex_eds_session)
