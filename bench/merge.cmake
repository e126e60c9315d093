# Three stores sharing people merged into one vCard 4.0 file, against exporting them unmerged.
add_executable(merge_bench merge_bench.cpp)
target_link_libraries(merge_bench PRIVATE lumivex_merge)
lumivex_target(merge_bench)
