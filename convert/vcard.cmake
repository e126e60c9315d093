target_sources(lumivex_core PRIVATE AnsiTextFile.cpp VCardRecord.cpp VCardExport.cpp Utf8Export.cpp)
target_sources(lumivex_ui PRIVATE FrmConversion.cpp)
