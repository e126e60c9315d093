lumivex_test(StoreVerbsTest StoreVerbsTest.cpp)
add_dependencies(StoreVerbsTest lumivex-cli lumivex-pstgen)
