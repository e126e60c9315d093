target_sources(lumivex_store PRIVATE Scan.cpp)
