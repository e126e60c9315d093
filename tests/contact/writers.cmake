# Readers of our files that nobody on this team wrote. KContacts needs Qt 5, so its small reader
# is a project of its own, built beside the tests when KF5Contacts is installed.
set(LUMIVEX_KCONTACTS_READER ${PROJECT_BINARY_DIR}/kcontacts-reader/lumivex-kcontacts-read)
find_file(LUMIVEX_KF5CONTACTS_CONFIG KF5ContactsConfig.cmake
  PATHS /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/cmake/KF5Contacts /usr/lib/cmake/KF5Contacts)
if(LUMIVEX_KF5CONTACTS_CONFIG)
  include(ExternalProject)
  ExternalProject_Add(kcontacts_reader
    SOURCE_DIR ${PROJECT_SOURCE_DIR}/tests/convert/kcontacts
    BINARY_DIR ${PROJECT_BINARY_DIR}/kcontacts-reader
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release
    INSTALL_COMMAND ""
    BUILD_ALWAYS TRUE  # a change to the reader's source is built again
    BUILD_BYPRODUCTS ${LUMIVEX_KCONTACTS_READER})
endif()

add_library(lumivex_utf8_readers STATIC Utf8Readers.cpp)
target_link_libraries(lumivex_utf8_readers PUBLIC lumivex_testsupport)
target_compile_definitions(lumivex_utf8_readers PRIVATE
  LUMIVEX_KCONTACTS_READER="${LUMIVEX_KCONTACTS_READER}")
lumivex_target(lumivex_utf8_readers)
if(LUMIVEX_KF5CONTACTS_CONFIG)
  add_dependencies(lumivex_utf8_readers kcontacts_reader)
endif()

lumivex_test(contact_reader_tests Utf8ReadersTest.cpp LIBS lumivex_utf8_readers)
