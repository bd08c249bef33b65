# The bridge: gain and 48V rules, threads, dashboard requests.

# Dashboard control requests against the virtual desk.
gm_add_test(test_bridge_control LABEL rig SOURCES bridge/test_bridge_control.cpp)
add_dependencies(test_bridge_control wingsim)

# The gain and 48V rules against the virtual desk.
gm_add_test(test_bridge_set LABEL rig SOURCES bridge/test_bridge_set.cpp)
add_dependencies(test_bridge_set wingsim)
