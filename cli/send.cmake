target_sources(lumivex-cli PRIVATE SendVerb.cpp)
target_link_libraries(lumivex-cli PRIVATE lumivex_destination)
