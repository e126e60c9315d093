# The contacts-folder scan of the main window on 30,000 contacts: time per entry with the
# window's yields, and the share of it that opening each entry takes.
add_executable(scan_bench ScanBench.cpp)
target_link_libraries(scan_bench PRIVATE lumivex_ui lumivex_pstwriter)
lumivex_target(scan_bench)
