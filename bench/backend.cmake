# The store backend walking 100,000 contacts: time per entry and peak memory.
add_executable(store_read_bench StoreReadBench.cpp)
target_link_libraries(store_read_bench PRIVATE lumivex_core lumivex_pstwriter)
lumivex_target(store_read_bench)
