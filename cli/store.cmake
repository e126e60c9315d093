target_sources(lumivex-cli PRIVATE FoldersVerb.cpp ScanVerb.cpp)
