# Tests of src/core/runtime: kstr_add_test(<name> SOURCES ... LIBS ...)
