# The desk layer: discovery, console choice and the WING desk backend.

# Console choice and the network helpers of discovery. The NetNamespace tests make their own
# network namespace and carry the netns label; the rest are unit tests.
add_executable(test_desk_choose module/desk/test_desk_choose.cpp module/desk/test_net_util.cpp)
target_link_libraries(test_desk_choose PRIVATE gm_test_support GTest::gtest_main GTest::gmock)
gtest_discover_tests(test_desk_choose TEST_FILTER "-NetNamespace.*"
  PROPERTIES LABELS unit TIMEOUT 120 ENVIRONMENT GAINMESH_TEST_NO_BROADCAST=1
  DISCOVERY_TIMEOUT 60)
gtest_discover_tests(test_desk_choose TEST_FILTER "NetNamespace.*"
  PROPERTIES LABELS netns TIMEOUT 120 DISCOVERY_TIMEOUT 60)

# ---- WING desk backend: discovery, card check, names, head amps (rig) and broadcast (netns) ----
gm_add_test(test_desk_wing LABEL rig SOURCES module/desk/test_desk_wing.cpp)
add_dependencies(test_desk_wing wingsim)
gm_add_test(test_desk_netns LABEL netns SOURCES module/desk/test_desk_netns.cpp)
add_dependencies(test_desk_netns wingsim)
# ---- end WING desk backend ----
