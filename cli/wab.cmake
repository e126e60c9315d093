target_sources(lumivex-cli PRIVATE WabDumpVerb.cpp)
