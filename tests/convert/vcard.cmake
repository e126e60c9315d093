# The vCard 2.1 files are read back by the readers of tests/contact (Utf8Readers.h).
lumivex_test(convert_vcard_tests VCardRecordTest.cpp VCardFilesTest.cpp VCardReadersTest.cpp
  LIBS lumivex_utf8_readers)
