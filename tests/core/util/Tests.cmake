# Tests of src/core/util: kstr_add_test(<name> SOURCES ... LIBS ...)
