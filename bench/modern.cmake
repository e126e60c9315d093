# The export for other address books (vCard 4.0) against the vCard 2.1 export: time and memory.
add_executable(modern_bench modern_bench.cpp)
target_link_libraries(modern_bench PRIVATE Qt6::Core)
lumivex_target(modern_bench)
