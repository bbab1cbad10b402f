# Tests of src/core/io: kstr_add_test(<name> SOURCES ... LIBS ...)
kstr_add_test(test_streams SOURCES core/io/tst_streams.cpp LIBS kstr_core)
kstr_add_test(test_fileinfo SOURCES core/io/tst_fileinfo.cpp LIBS kstr_core)
