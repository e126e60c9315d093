lumivex_test(worksheet_tests WorksheetExportTest.cpp WorksheetReadersTest.cpp)
# The command line's worksheet export, run as the user runs it.
lumivex_test(worksheet_cli_tests WorksheetCliTest.cpp)
add_dependencies(worksheet_cli_tests lumivex-cli)
