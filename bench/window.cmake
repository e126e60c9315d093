# The conversion window's progress during a real export: paints per second and their cost.
add_executable(window_bench WindowBench.cpp)
target_link_libraries(window_bench PRIVATE lumivex_ui)
lumivex_target(window_bench)
