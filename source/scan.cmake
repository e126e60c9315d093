target_sources(lumivex_source PRIVATE Scan.cpp)
