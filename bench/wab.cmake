add_executable(lumivex-wab-bench WabBench.cpp)
target_link_libraries(lumivex-wab-bench PRIVATE lumivex_wab)
lumivex_target(lumivex-wab-bench)
set_target_properties(lumivex-wab-bench PROPERTIES AUTOMOC OFF)
