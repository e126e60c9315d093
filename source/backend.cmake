target_sources(lumivex_store PRIVATE PffFile.cpp LibpffFile.cpp PstReader.cpp PstReaderFile.cpp MappingGuard.cpp
                                   PffBackend.cpp DefaultStore.cpp ContactProperties.cpp Rtf.cpp)
target_sources(lumivex_pstformat PRIVATE PstFormat.cpp)
