target_sources(lumivex-cli PRIVATE CliCommon.cpp FoldersVerb.cpp ScanVerb.cpp)
