# The release public key, taken at build time: GM_RELEASE_PUBKEY names a PEM file holding an
# Ed25519 SubjectPublicKeyInfo. This is the one place that turns it into the 32 raw key bytes, as
# the C initialiser in the generated header "base/release_key.h" that the loader stand-in and the
# app core both include. A build without tests refuses the repository's TEST-ONLY key.
set(GM_RELEASE_PUBKEY "${PROJECT_SOURCE_DIR}/tests/keys/test-release.pub" CACHE FILEPATH
    "Ed25519 public key (PEM) that release manifests and files must verify against")

# Decodes the Base64 text `b64` into lower-case hex digits in `out_var`.
function(gm_b64_to_hex b64 out_var)
  set(alphabet "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
  set(hex_digits "0123456789abcdef")
  string(REGEX REPLACE "=+$" "" b64 "${b64}")
  string(LENGTH "${b64}" n)
  set(acc 0)
  set(bits 0)
  set(hex "")
  math(EXPR last "${n} - 1")
  foreach(i RANGE 0 ${last})
    string(SUBSTRING "${b64}" ${i} 1 c)
    string(FIND "${alphabet}" "${c}" v)
    if(v LESS 0)
      message(FATAL_ERROR "GM_RELEASE_PUBKEY: '${c}' is not Base64")
    endif()
    math(EXPR acc "((${acc} << 6) | ${v}) & 4095")
    math(EXPR bits "${bits} + 6")
    if(bits GREATER_EQUAL 8)
      math(EXPR bits "${bits} - 8")
      math(EXPR byte "(${acc} >> ${bits}) & 255")
      math(EXPR hi "${byte} >> 4")
      math(EXPR lo "${byte} & 15")
      string(SUBSTRING "${hex_digits}" ${hi} 1 h)
      string(SUBSTRING "${hex_digits}" ${lo} 1 l)
      string(APPEND hex "${h}${l}")
    endif()
  endforeach()
  set(${out_var} "${hex}" PARENT_SCOPE)
endfunction()

# The 32 raw key bytes, as 64 lower-case hex digits, of the Ed25519 public key in the PEM file
# `path`, in `out_var`; configuring stops when the file holds no such key.
function(gm_ed25519_pub_hex path out_var)
  file(READ "${path}" pem)
  if(NOT pem MATCHES "-----BEGIN PUBLIC KEY-----(.*)-----END PUBLIC KEY-----")
    message(FATAL_ERROR "GM_RELEASE_PUBKEY (${path}) holds no PEM public key")
  endif()
  string(REGEX REPLACE "[ \t\r\n]" "" b64 "${CMAKE_MATCH_1}")
  gm_b64_to_hex("${b64}" der)
  # DER of an Ed25519 SubjectPublicKeyInfo: a fixed 12-byte prefix, then the 32 key bytes.
  if(NOT der MATCHES "^302a300506032b6570032100([0-9a-f]+)$")
    message(FATAL_ERROR "GM_RELEASE_PUBKEY (${path}) is not an Ed25519 public key")
  endif()
  set(raw "${CMAKE_MATCH_1}")
  string(LENGTH "${raw}" len)
  if(NOT len EQUAL 64)
    message(FATAL_ERROR "GM_RELEASE_PUBKEY (${path}) is not an Ed25519 public key")
  endif()
  set(${out_var} "${raw}" PARENT_SCOPE)
endfunction()

set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${GM_RELEASE_PUBKEY}")
gm_ed25519_pub_hex("${GM_RELEASE_PUBKEY}" _gm_raw)
# Only the build that carries the tests may trust the repository's TEST-ONLY key, whose private
# half anyone can read: compared by the key itself, so a copy under another name is refused too.
gm_ed25519_pub_hex("${PROJECT_SOURCE_DIR}/tests/keys/test-release.pub" _gm_test_raw)
if(NOT GM_BUILD_TESTS AND _gm_raw STREQUAL _gm_test_raw)
  message(FATAL_ERROR
    "A build without tests is a release build and needs the real release public key, but "
    "GM_RELEASE_PUBKEY (${GM_RELEASE_PUBKEY}) holds the repository's TEST-ONLY key; give the "
    "real one when configuring, for example: "
    "cmake --preset release -DGM_RELEASE_PUBKEY=path/to/key.pub")
endif()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1, " GM_RELEASE_KEY_BYTES "${_gm_raw}")
string(REGEX REPLACE ", $" "" GM_RELEASE_KEY_BYTES "${GM_RELEASE_KEY_BYTES}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/release_key.h.in
  "${CMAKE_BINARY_DIR}/generated/base/release_key.h" @ONLY)
