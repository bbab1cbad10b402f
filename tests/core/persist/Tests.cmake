# Tests of src/core/persist: kstr_add_test(<name> SOURCES ... LIBS ...)
