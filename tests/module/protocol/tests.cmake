# The protocol layer: the native codec and control link, the desk requests, metering, and the
# network helpers of discovery.
gm_add_test(test_wingbin LABEL unit
  SOURCES module/protocol/test_wingbin_codec.cpp module/protocol/test_wingbin_link.cpp)
gm_add_test(test_wing_ctl LABEL unit
  SOURCES module/protocol/test_wing_ctl.cpp)
gm_add_test(test_wing_native LABEL unit
  SOURCES module/protocol/test_wing_native.cpp)

# The network helpers of discovery. The NetNamespace tests make their own network namespace and
# carry the netns label; the rest are unit tests.
add_executable(test_net_util module/protocol/test_net_util.cpp)
target_link_libraries(test_net_util PRIVATE gm_test_support GTest::gtest_main GTest::gmock)
gtest_discover_tests(test_net_util TEST_FILTER "-NetNamespace.*"
  PROPERTIES LABELS unit TIMEOUT 120 ENVIRONMENT GAINMESH_TEST_NO_BROADCAST=1
  DISCOVERY_TIMEOUT 60)
gtest_discover_tests(test_net_util TEST_FILTER "NetNamespace.*"
  PROPERTIES LABELS netns TIMEOUT 120 DISCOVERY_TIMEOUT 60)
