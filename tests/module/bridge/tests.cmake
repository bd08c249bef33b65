# The bridge layer: settings file, status block, input patch, gain and 48V rules, dashboard
# requests, and the bridge end to end.

gm_add_test(test_module_cfg LABEL unit
  SOURCES module/bridge/test_bridge_cfg.cpp
  LIBS wing_core)
# The app's settings edits in a process of their own, raced against the module's.
add_executable(gm_test_app_cfg_edit support/app_cfg_edit.cpp)
target_link_libraries(gm_test_app_cfg_edit PRIVATE gm_common)
target_compile_definitions(test_module_cfg PRIVATE
  GM_APP_CFG_EDIT="$<TARGET_FILE:gm_test_app_cfg_edit>")
add_dependencies(test_module_cfg gm_test_app_cfg_edit)
gm_add_test(test_module_status LABEL unit
  SOURCES module/bridge/test_bridge_status.cpp
  LIBS wing_core)

# The input patch model against the virtual desk.
gm_add_test(test_bridge_patch LABEL rig SOURCES module/bridge/test_bridge_patch.cpp)
add_dependencies(test_bridge_patch wingsim)

# Dashboard control requests against the virtual desk.
gm_add_test(test_bridge_control LABEL rig SOURCES module/bridge/test_bridge_control.cpp)
add_dependencies(test_bridge_control wingsim)

# The gain and 48V rules against the virtual desk.
gm_add_test(test_bridge_set LABEL rig SOURCES module/bridge/test_bridge_set.cpp)
add_dependencies(test_bridge_set wingsim)

# The bridge end to end: LV1 stand-in, loader, wing module and virtual desk as processes.
gm_add_test(test_bridge_e2e LABEL rig LOCK lv1 SOURCES rig/test_bridge_e2e.cpp)
gm_needs_installed_rig(test_bridge_e2e)
add_dependencies(test_bridge_e2e wingsim)

# The desk moving to a new address, found again by broadcast inside network namespaces.
gm_add_test(test_bridge_netns LABEL netns LOCK lv1 SOURCES rig/test_bridge_netns.cpp)
gm_needs_installed_rig(test_bridge_netns)
add_dependencies(test_bridge_netns wingsim)
