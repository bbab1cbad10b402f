# Tests of src/core/widgets: kstr_add_test(<name> SOURCES ... LIBS ...)
kstr_add_test(test_uifunctions SOURCES core/widgets/tst_uifunctions.cpp LIBS kstr_core_widgets)
