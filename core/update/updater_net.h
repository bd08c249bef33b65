// Downloading from the update server: one HTTPS GET into memory with a size cap, the check of a
// downloaded file against its manifest item (size, SHA-256, Ed25519 signature), and where the
// manifest is asked for.
//
// Only HTTPS is ever used, redirects included, and the server's certificate and host name are
// always verified. Two test-only environment settings point the app at a test server:
// GAINMESH_TEST_UPDATE_URL (the server's base, "https://host:port", in place of the product's
// endpoint) and GAINMESH_TEST_UPDATE_CA (a PEM file of the certificate authority to trust in place
// of the system's). Only a build with the tests reads them; neither switches a check off.
//
// Threads: any; libcurl is initialised once per process. Blocking: https_get and fetch_item wait
// on the network, up to 10 s to connect and 120 s per transfer.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "release.h"

namespace gm {

using Bytes = std::vector<unsigned char>;

// The manifest's URL: the endpoint + "/v1/updates?product=gainmesh&platform=macos".
std::string update_manifest_url();

// GETs url (which must begin with "https://") into out. True only when the transfer succeeded,
// stayed within max bytes and the status was 200; `http` holds the status (0 without an answer).
// A transfer error other than the size cap is logged with libcurl's own text.
bool https_get(const std::string& url, Bytes& out, size_t max, int& http);

// Downloads item.url and accepts it only with the item's size, SHA-256 (lowercase hex, compared
// as text) and a signature by the release key. On failure err is "download failed (HTTP <n>)",
// "wrong size", "SHA-256 mismatch" or "signature does not verify".
bool fetch_item(const gm_release::Item& item, Bytes& out, std::string& err);

// The lowercase hexadecimal SHA-256 of bytes (64 characters). False only when the digest could
// not be computed.
bool sha256_hex(const Bytes& bytes, std::string& out);

}  // namespace gm
