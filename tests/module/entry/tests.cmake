# The entry layer: the module as the loader opens it.
gm_add_test(test_module_entry LABEL unit
  SOURCES module/entry/test_module_entry.cpp)
add_dependencies(test_module_entry wing)
# Loading and unloading the module must leak nothing; only AddressSanitizer builds can tell, and
# the suite's default ASAN_OPTIONS switch LeakSanitizer off, so this test switches it back on.
if(GM_SANITIZE STREQUAL "asan")
  add_executable(test_module_unload module/entry/test_module_unload.cpp)
  target_link_libraries(test_module_unload PRIVATE gm_test_support GTest::gtest_main)
  add_dependencies(test_module_unload wing)
  add_test(NAME ModuleUnload.EveryLoadAndUnloadGivesBackWhatTheModuleTook COMMAND test_module_unload)
  set_tests_properties(ModuleUnload.EveryLoadAndUnloadGivesBackWhatTheModuleTook PROPERTIES
    LABELS unit TIMEOUT 120
    ENVIRONMENT "GAINMESH_TEST_NO_BROADCAST=1;ASAN_OPTIONS=detect_leaks=1")
endif()
