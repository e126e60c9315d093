# The store files and their two readers.
target_sources(lumivex_source PRIVATE StoreFile.cpp LibpffStoreFile.cpp PstReaderNdb.cpp
                                    PstReaderLtp.cpp PstReaderNameMap.cpp
                                    PstReaderStoreFile.cpp MappingGuard.cpp Rtf.cpp
                                    ContactProperties.cpp ReaderComparison.cpp)
# The backend over them: sessions, the store and its folders, entries and the read-ahead thread.
target_sources(lumivex_source PRIVATE StoreBackend.cpp DefaultStore.cpp StoreContext.cpp
                                    SessionStore.cpp FileFolder.cpp EntryReadAhead.cpp
                                    FileContactEntry.cpp EntryValues.cpp ContactFill.cpp
                                    ContactPicture.cpp ListMembers.cpp)
