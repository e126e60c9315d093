target_sources(lumivex_core PRIVATE ConversionRun.cpp VCardRecord.cpp VCardExport.cpp)
target_sources(lumivex_ui PRIVATE FrmConversion.cpp)
