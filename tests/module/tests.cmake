# The wing module's suites, one folder per layer of module/. Included from tests/CMakeLists.txt,
# so source paths are relative to tests/.
include(${CMAKE_CURRENT_LIST_DIR}/protocol/tests.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/desk/tests.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/bridge/tests.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/entry/tests.cmake)
