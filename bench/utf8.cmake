# The export for other address books (vCard 4.0) against the vCard 2.1 export: time and memory.
add_executable(utf8_bench utf8_bench.cpp)
target_link_libraries(utf8_bench PRIVATE Qt6::Core)
lumivex_target(utf8_bench)
