# The desk layer: discovery, console choice and the WING desk backend.

# Console choice.
gm_add_test(test_desk_choose LABEL unit SOURCES module/desk/test_desk_choose.cpp)

# ---- WING desk backend: discovery, card check, names, head amps (rig) and broadcast (netns) ----
gm_add_test(test_desk_wing LABEL rig SOURCES module/desk/test_desk_wing.cpp)
add_dependencies(test_desk_wing wingsim)
gm_add_test(test_desk_netns LABEL netns SOURCES module/desk/test_desk_netns.cpp)
add_dependencies(test_desk_netns wingsim)
# ---- end WING desk backend ----
