lumivex_test(StoreBackendTest StoreBackendTest.cpp)
lumivex_test(BackendPropertiesTest BackendPropertiesTest.cpp LIBS lumivex_pstwriter)
add_dependencies(StoreBackendTest lumivex_sample_store)  # the damaged-branch case spoils a copy of it
lumivex_test(PstReaderTest PstReaderTest.cpp LIBS lumivex_featurestore)
add_dependencies(PstReaderTest lumivex_sample_store)
lumivex_test(RtfTest RtfTest.cpp)
lumivex_test(ContactModelTest ContactModelTest.cpp LIBS lumivex_pstgen_core)
