target_sources(lumivex_core PRIVATE Scan.cpp)
