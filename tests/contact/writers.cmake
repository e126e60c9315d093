lumivex_test(contact_export_tests ModernExportTest.cpp)

# Readers of our files that nobody on this team wrote. The KContacts reader is built beside the
# vCard 2.1 tests (tests/convert/vcard.cmake).
add_library(lumivex_modern_readers STATIC ModernReaders.cpp)
target_link_libraries(lumivex_modern_readers PUBLIC lumivex_testsupport)
target_compile_definitions(lumivex_modern_readers PRIVATE
  LUMIVEX_KCONTACTS_READER="${PROJECT_BINARY_DIR}/kcontacts-reader/lumivex-kcontacts-read")
lumivex_target(lumivex_modern_readers)
if(LUMIVEX_KF5CONTACTS_CONFIG)
  add_dependencies(lumivex_modern_readers kcontacts_reader)
endif()

lumivex_test(contact_reader_tests ModernReadersTest.cpp LIBS lumivex_modern_readers)
