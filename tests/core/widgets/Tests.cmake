# Tests of src/core/widgets: kstr_add_test(<name> SOURCES ... LIBS ...)
