# The bridge: gain and 48V rules, threads, dashboard requests.

# Dashboard control requests against the virtual desk.
gm_add_test(test_bridge_control LABEL rig SOURCES bridge/test_bridge_control.cpp)
add_dependencies(test_bridge_control wingsim)

# The gain and 48V rules against the virtual desk.
gm_add_test(test_bridge_set LABEL rig SOURCES bridge/test_bridge_set.cpp)
add_dependencies(test_bridge_set wingsim)

# The bridge end to end: LV1 stand-in, loader, wing module and virtual desk as processes.
gm_add_test(test_bridge_e2e LABEL rig LOCK lv1 SOURCES rig/test_bridge_e2e.cpp)
gm_needs_installed_rig(test_bridge_e2e)
add_dependencies(test_bridge_e2e wingsim)

# The desk moving to a new address, found again by broadcast inside network namespaces.
gm_add_test(test_bridge_netns LABEL netns LOCK lv1 SOURCES rig/test_bridge_netns.cpp)
gm_needs_installed_rig(test_bridge_netns)
add_dependencies(test_bridge_netns wingsim)
