lumivex_test(PffBackendTest PffBackendTest.cpp)
