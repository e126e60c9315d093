lumivex_test(convert_run_tests ConversionRunTest.cpp FrmConversionTest.cpp LIBS lumivex_ui Qt6::Test)
