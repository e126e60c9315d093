# Sending 10,000 contacts to a Radicale server on 127.0.0.1 against vdirsyncer uploading the same
# cards from a vdir, and the re-send of the unchanged store.
add_executable(send_bench send_bench.cpp)
target_link_libraries(send_bench PRIVATE lumivex_destination)
lumivex_target(send_bench)
add_dependencies(send_bench lumivex-cli lumivex-pstgen)
