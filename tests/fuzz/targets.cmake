# One gm_add_fuzzer(<name> SOURCES <fuzz source>) per parser of outside bytes.
gm_add_fuzzer(fuzz_wbin_rx SOURCES tests/fuzz/fuzz_wbin_rx.cpp)
gm_add_fuzzer(fuzz_wbin_decoders SOURCES tests/fuzz/fuzz_wbin_decoders.cpp)
gm_add_fuzzer(fuzz_wnat_frame SOURCES tests/fuzz/fuzz_wnat_frame.cpp)
gm_add_fuzzer(fuzz_wctl_range SOURCES tests/fuzz/fuzz_wctl_range.cpp)
gm_add_fuzzer(fuzz_osc_arg SOURCES tests/fuzz/fuzz_osc_arg.cpp)
gm_add_fuzzer(fuzz_desk_reply SOURCES tests/fuzz/fuzz_desk_reply.cpp)
gm_add_fuzzer(fuzz_load_release SOURCES tests/fuzz/fuzz_load_release.cpp
  LIBS "${GM_FUZZ_CORE_LIB}" "${OPENSSL_CRYPTO_LIBRARY}")
gm_add_fuzzer(fuzz_install_texts SOURCES tests/fuzz/fuzz_install_texts.cpp core/install/install_texts.cpp)
gm_add_fuzzer(fuzz_scan_reply SOURCES tests/fuzz/fuzz_scan_reply.cpp core/scan/discovery_reply.cpp)
gm_add_fuzzer(fuzz_ln_archive SOURCES tests/fuzz/fuzz_ln_archive.cpp LIBS "${GM_FUZZ_CORE_LIB}"
  LINK ${GM_FUZZ_PLIST_LDFLAGS})
gm_add_fuzzer(fuzz_status_blocks MAX_LEN 12000
  SOURCES tests/fuzz/fuzz_status_blocks.cpp core/lv1/status.cpp core/lv1/lv1.cpp core/lv1/lv1_finder.cpp
    core/lv1/block_watch.cpp core/platform/platform_linux.cpp
  LIBS "${GM_FUZZ_CORE_LIB}" "${OPENSSL_CRYPTO_LIBRARY}" LINK ${GM_FUZZ_PLIST_LDFLAGS})
gm_add_fuzzer(fuzz_session_db MAX_LEN 8192
  SOURCES tests/fuzz/fuzz_session_db.cpp core/lv1/lv1db.cpp core/common/no_links.cpp
  LIBS "${GM_FUZZ_CORE_LIB}" "${OPENSSL_CRYPTO_LIBRARY}" LINK -lsqlite3)
