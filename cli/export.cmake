target_sources(lumivex-cli PRIVATE ExportVerb.cpp ModernExportVerb.cpp)
