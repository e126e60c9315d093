target_sources(lumivex_core PRIVATE PffFile.cpp PffBackend.cpp ContactProperties.cpp)
target_sources(lumivex_pstformat PRIVATE PstFormat.cpp)
