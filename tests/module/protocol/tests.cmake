# The protocol layer: the native codec and control link, the desk requests, metering.
gm_add_test(test_wingbin LABEL unit
  SOURCES module/protocol/test_wingbin_codec.cpp module/protocol/test_wingbin_link.cpp)
gm_add_test(test_wing_ctl LABEL unit
  SOURCES module/protocol/test_wing_ctl.cpp)
gm_add_test(test_wing_native LABEL unit
  SOURCES module/protocol/test_wing_native.cpp)
