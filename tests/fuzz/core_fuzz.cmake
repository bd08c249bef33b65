# The app core's parsers of outside bytes, compiled with clang the same way as the module for the
# fuzz targets: libfuzz_core.a. A target links it with LIBS "${GM_FUZZ_CORE_LIB}"
# "${OPENSSL_CRYPTO_LIBRARY}" (it also needs gm_base, which the module's archive holds), and with
# LINK ${GM_FUZZ_PLIST_LDFLAGS} when it reads through libplist.
find_package(OpenSSL REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(GM_FUZZ_PLIST REQUIRED libplist-2.0)
list(APPEND GM_FUZZ_FLAGS -I${PROJECT_SOURCE_DIR}/core -I${CMAKE_BINARY_DIR}/generated)
set(GM_FUZZ_CORE_LIB "${CMAKE_CURRENT_BINARY_DIR}/libfuzz_core.a")
set(GM_FUZZ_CORE_SOURCES
  core/util.cpp
  core/release_json.cpp
  core/release_text.cpp
  core/release.cpp
  base/ed25519.cpp
  core/netperm_archive.cpp
)

function(gm_build_fuzz_core)
  set(objs)
  foreach(rel IN LISTS GM_FUZZ_CORE_SOURCES)
    set(src "${PROJECT_SOURCE_DIR}/${rel}")
    get_filename_component(stem "${src}" NAME_WE)
    set(obj "${CMAKE_CURRENT_BINARY_DIR}/obj_core/${stem}.o")
    add_custom_command(OUTPUT "${obj}"
      COMMAND "${GM_CLANGXX}" ${GM_FUZZ_FLAGS} ${GM_FUZZ_PLIST_CFLAGS} -MD -MF "${obj}.d" -c "${src}"
              -o "${obj}"
      DEPENDS "${src}" DEPFILE "${obj}.d"
      COMMENT "Compiling core ${stem} for the fuzz targets" VERBATIM)
    list(APPEND objs "${obj}")
  endforeach()
  add_custom_command(OUTPUT "${GM_FUZZ_CORE_LIB}"
    COMMAND ${CMAKE_COMMAND} -E rm -f "${GM_FUZZ_CORE_LIB}"
    COMMAND ${CMAKE_AR} rcs "${GM_FUZZ_CORE_LIB}" ${objs}
    DEPENDS ${objs} VERBATIM)
  file(MAKE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}/obj_core")
endfunction()

if(GM_CLANGXX AND GM_SANITIZE STREQUAL "")
  gm_build_fuzz_core()
endif()
