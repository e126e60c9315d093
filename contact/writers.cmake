target_sources(lumivex_core PRIVATE TextOut.cpp VCardWriter.cpp CsvWriter.cpp FileNames.cpp)
