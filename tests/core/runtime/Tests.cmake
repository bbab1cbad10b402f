# Tests of src/core/runtime: kstr_add_test(<name> SOURCES ... LIBS ...)
kstr_add_test(test_timer_manager SOURCES core/runtime/tst_timer_manager.cpp LIBS kstr_core)
kstr_add_test(test_delayed_invoker SOURCES core/runtime/tst_delayed_invoker.cpp LIBS kstr_core)
kstr_add_test(test_platform SOURCES core/runtime/tst_platform.cpp LIBS kstr_core)

# Runs the built client as a subprocess.
kstr_add_test(test_single_instance SOURCES core/runtime/tst_single_instance.cpp LIBS kstr_core)
target_compile_definitions(test_single_instance PRIVATE KSTR_CLIENT_EXECUTABLE="$<TARGET_FILE:kestrune-client>")
add_dependencies(test_single_instance kestrune-client)

kstr_add_test(test_log SOURCES core/runtime/tst_log.cpp LIBS kstr_core)
