# Tests of src/core/widgets: kstr_add_test(<name> SOURCES ... LIBS ...)
kstr_add_test(test_uifunctions SOURCES core/widgets/tst_uifunctions.cpp LIBS kstr_core_widgets)
kstr_add_test(test_diagnostics_form SOURCES core/widgets/tst_diagnostics_form.cpp LIBS kstr_core_widgets)
kstr_add_test(test_item_log_dialog SOURCES core/widgets/tst_item_log_dialog.cpp LIBS kstr_core_widgets)
