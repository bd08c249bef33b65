# The bridge: gain and 48V rules, threads, dashboard requests.

# Dashboard control requests against the virtual desk.
gm_add_test(test_bridge_control LABEL rig SOURCES bridge/test_bridge_control.cpp)
add_dependencies(test_bridge_control wingsim)

# The gain and 48V rules against the virtual desk.
gm_add_test(test_bridge_set LABEL rig SOURCES bridge/test_bridge_set.cpp)
add_dependencies(test_bridge_set wingsim)

# The bridge end to end: LV1 stand-in, loader, wing module and virtual desk as processes.
gm_add_test(test_bridge_e2e LABEL rig SOURCES rig/test_bridge_e2e.cpp)
add_dependencies(test_bridge_e2e lv1host wingsim wing)
foreach(dep gm_loader gm-sign wing_signature)
  if(TARGET ${dep})
    add_dependencies(test_bridge_e2e ${dep})
  endif()
endforeach()

# The desk moving to a new address, found again by broadcast inside network namespaces.
gm_add_test(test_bridge_netns LABEL netns SOURCES rig/test_bridge_netns.cpp)
add_dependencies(test_bridge_netns lv1host wingsim wing)
foreach(dep gm_loader gm-sign wing_signature)
  if(TARGET ${dep})
    add_dependencies(test_bridge_netns ${dep})
  endif()
endforeach()
