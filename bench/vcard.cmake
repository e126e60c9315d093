# The vCard exports: writers in process, and lumivex-cli against readpst on a store file.
add_executable(vcard_bench vcard_bench.cpp)
target_link_libraries(vcard_bench PRIVATE lumivex_core)
lumivex_target(vcard_bench)
