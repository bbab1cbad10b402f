# Tests of src/core/store: kstr_add_test(<name> SOURCES ... LIBS ...)
kstr_add_test(test_store_items SOURCES core/store/tst_items.cpp LIBS kstr_core)
