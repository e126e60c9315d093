target_sources(lumivex_core PRIVATE VCardExport.cpp)
