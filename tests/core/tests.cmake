# The app core's suites, one folder per core library. Each suite links the libraries whose
# headers it includes.

# ---- platform and common ----
gm_add_test(test_core_platform LABEL unit SOURCES core/platform/test_platform.cpp
  LIBS gm_platform gm_lv1)
gm_add_test(test_core_util LABEL unit SOURCES core/common/test_util.cpp LIBS gm_common)

# ---- LV1 ----
# LV1's session database: built by the tests, and kept by the LV1 stand-in. The guest watch's
# timing rules are read from the same suite.
find_package(SQLite3 REQUIRED)
gm_add_test(test_core_lv1db LABEL unit
  SOURCES core/lv1/test_lv1db.cpp
  LIBS gm_lv1 gm_api gm_common SQLite::SQLite3)
gm_add_test(test_core_status LABEL unit SOURCES core/lv1/test_status.cpp LIBS gm_lv1)
gm_add_test(test_core_lv1_watch LABEL unit SOURCES core/lv1/test_lv1_watch.cpp
  LIBS gm_lv1)

# ---- releases and the updater ----
gm_add_test(test_core_release LABEL unit
  SOURCES core/release/test_release.cpp
  LIBS gm_release gm_loader_core)
target_compile_definitions(test_core_release PRIVATE
  GM_TEST_KEYS_DIR="${PROJECT_SOURCE_DIR}/tests/keys")
# Downloads from the rig's update server, with releases that gm-release builds.
gm_add_test(test_rig_update_download LABEL rig
  SOURCES core/update/test_update_download.cpp
  LIBS gm_update gm_loader_core)
target_compile_definitions(test_rig_update_download PRIVATE
  GM_TEST_KEYS_DIR="${PROJECT_SOURCE_DIR}/tests/keys")
add_dependencies(test_rig_update_download gm-release)
# The updater: module folders, applying a stage, the tick, and the check against the rig's update
# server with releases from gm-release. One test plays an LV1 that reports its running module.
gm_add_test(test_core_updater LABEL rig LOCK lv1 SOURCES core/update/test_updater.cpp
  LIBS gm_update gm_install gm_lv1 gm_platform gm_common)
gm_needs_installed_rig(test_core_updater)
add_dependencies(test_core_updater gm-release gainmesh_app)

# ---- install, and the administrator step ----
gm_add_test(test_core_install LABEL unit SOURCES core/install/test_install.cpp
  LIBS gm_api gm_install gm_scan gm_lv1 gm_platform gm_common)
gm_add_test(test_core_privileged LABEL unit SOURCES core/install/test_privileged.cpp
  LIBS gm_install)

# ---- scan: discovery, and the Local Network permission (unit tests, and the probe in a
# namespace of its own) ----
gm_add_test(test_core_discovery LABEL unit SOURCES core/scan/test_discovery.cpp
  LIBS gm_scan gm_common)
gm_add_test(test_core_scan_netns LABEL netns SOURCES core/scan/test_scan_netns.cpp
  LIBS gm_scan)
add_dependencies(test_core_scan_netns gainmesh_app wingsim)
add_executable(test_core_netperm core/scan/test_netperm.cpp)
target_link_libraries(test_core_netperm PRIVATE gm_scan gm_common gm_test_support PkgConfig::PLIST
  GTest::gtest_main)
gtest_discover_tests(test_core_netperm TEST_FILTER "-NetNamespace.*"
  PROPERTIES LABELS unit TIMEOUT 120 ENVIRONMENT GAINMESH_TEST_NO_BROADCAST=1
  DISCOVERY_TIMEOUT 60)
gtest_discover_tests(test_core_netperm TEST_FILTER "NetNamespace.*"
  PROPERTIES LABELS netns TIMEOUT 120 DISCOVERY_TIMEOUT 60)

# ---- the dashboard ----
gm_add_test(test_core_model LABEL unit SOURCES core/dashboard/test_model.cpp
  LIBS gm_dashboard)
gm_add_test(test_core_page LABEL unit SOURCES core/dashboard/test_page.cpp
  LIBS gm_dashboard gm_common)
gm_add_test(test_core_fake LABEL unit SOURCES core/dashboard/test_fake.cpp LIBS gm_api)
target_compile_definitions(test_core_fake PRIVATE
  GM_GOLDEN_DIR="${PROJECT_SOURCE_DIR}/tests/golden")

# ---- support ----
gm_add_test(test_core_support LABEL unit SOURCES core/support/test_support.cpp
  LIBS gm_api gm_support gm_scan gm_platform gm_common)

# ---- the entry points and the command line ----
gm_add_test(test_core_api LABEL unit
  SOURCES core/api/test_check_blocks.cpp core/api/test_console_choice.cpp
  LIBS gm_api gm_dashboard gm_install gm_common)
gm_add_test(test_core_cli LABEL rig LOCK lv1 SOURCES core/api/test_cli.cpp)
add_dependencies(test_core_cli gainmesh_app)
