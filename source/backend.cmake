target_sources(lumivex_store PRIVATE StoreFile.cpp LibpffStoreFile.cpp PstReader.cpp
                                    PstReaderStoreFile.cpp StoreBackend.cpp DefaultStore.cpp
                                    ContactProperties.cpp Rtf.cpp)
target_sources(lumivex_pstformat PRIVATE PstFormat.cpp)
