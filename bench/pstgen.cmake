# Writing a store of 100,000 synthetic contacts: time, file size, peak memory.
add_executable(pstgen_bench pstgen_bench.cpp)
target_link_libraries(pstgen_bench PRIVATE lumivex_pstgen_core)
lumivex_target(pstgen_bench)
