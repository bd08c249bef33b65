# The app core's parsers of outside bytes, compiled with clang the same way as the module for the
# fuzz targets: libfuzz_core.a. A target links it with LIBS "${GM_FUZZ_CORE_LIB}"
# "${OPENSSL_CRYPTO_LIBRARY}" (it also needs gm_base, which the module's archive holds), and with
# LINK ${GM_FUZZ_PLIST_LDFLAGS} when it reads through libplist.
find_package(OpenSSL REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(GM_FUZZ_PLIST REQUIRED libplist-2.0)
# Every core folder's headers, as the core libraries offer them.
foreach(dir platform common lv1 release install update scan dashboard support api)
  list(APPEND GM_FUZZ_FLAGS -I${PROJECT_SOURCE_DIR}/core/${dir})
endforeach()
list(APPEND GM_FUZZ_FLAGS -I${CMAKE_BINARY_DIR}/generated)
set(GM_FUZZ_CORE_LIB "${CMAKE_CURRENT_BINARY_DIR}/libfuzz_core.a")
set(GM_FUZZ_CORE_SOURCES
  core/common/util.cpp
  core/common/no_links.cpp
  core/release/release_json.cpp
  core/release/release_text.cpp
  core/release/release.cpp
  base/ed25519.cpp
  core/scan/netperm_archive.cpp
)

function(gm_build_fuzz_core)
  list(TRANSFORM GM_FUZZ_CORE_SOURCES PREPEND "${PROJECT_SOURCE_DIR}/" OUTPUT_VARIABLE srcs)
  gm_fuzz_archive("${GM_FUZZ_CORE_LIB}" "${CMAKE_CURRENT_BINARY_DIR}/obj_core" SOURCES ${srcs}
    FLAGS ${GM_FUZZ_PLIST_CFLAGS})
endfunction()

if(GM_CLANGXX AND GM_SANITIZE STREQUAL "")
  gm_build_fuzz_core()
endif()
