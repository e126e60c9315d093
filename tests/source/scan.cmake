lumivex_test(scan_tests ScanTest.cpp)
