# Tests of src/core/persist: kstr_add_test(<name> SOURCES ... LIBS ...)
kstr_add_test(test_datasaver SOURCES core/persist/tst_datasaver.cpp LIBS kstr_core)
