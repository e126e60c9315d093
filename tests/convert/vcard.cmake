# The vCard 2.1 files are read back by the readers of tests/contact (ModernReaders.h).
lumivex_test(convert_vcard_tests VCardRecordTest.cpp VCardFilesTest.cpp VCardReadersTest.cpp
  LIBS lumivex_modern_readers)
