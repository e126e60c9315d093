target_sources(lumivex-cli PRIVATE ExportVerb.cpp Utf8ExportVerb.cpp)
