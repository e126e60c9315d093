lumivex_test(ScanTest ScanTest.cpp)
