target_sources(lumivex_core PRIVATE WorksheetExport.cpp)
