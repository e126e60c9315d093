# The export's figures beside their yardsticks (readpst, cat + cp, vCard 2.1) and the load average.
add_executable(vcard_bench vcard_bench.cpp)
target_link_libraries(vcard_bench PRIVATE Qt6::Core)
lumivex_target(vcard_bench)
