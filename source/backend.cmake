target_sources(lumivex_core PRIVATE PffFile.cpp PffBackend.cpp ContactProperties.cpp)
