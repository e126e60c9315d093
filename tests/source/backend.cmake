lumivex_test(PffBackendTest PffBackendTest.cpp)
lumivex_test(BackendPropertiesTest BackendPropertiesTest.cpp LIBS lumivex_pstwriter)
add_dependencies(PffBackendTest lumivex_sample_store)  # the damaged-branch case spoils a copy of it
