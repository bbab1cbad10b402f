# Tests of src/core/io: kstr_add_test(<name> SOURCES ... LIBS ...)
