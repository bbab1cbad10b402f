# Tests of src/core/util: kstr_add_test(<name> SOURCES ... LIBS ...)
kstr_add_test(test_generalfunctions SOURCES core/util/tst_generalfunctions.cpp LIBS kstr_core Qt6::Gui)
kstr_add_test(test_md5 SOURCES core/util/tst_md5.cpp LIBS kstr_core)
