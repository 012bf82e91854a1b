// SHA-256 of a byte string or a file, as lower-case hex, from OpenSSL's libcrypto: names
// the file a download sent (kelvane-cli's report, the update history) and lets tests
// compare what the target stored with it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace fdp {

// Empty only when libcrypto cannot make a digest at all (out of memory).
std::string Sha256Hex(std::span<const std::uint8_t> data);
// Nothing when the file cannot be read to its end or is no regular file (a directory,
// a FIFO, a device).
std::optional<std::string> Sha256File(const std::string& path);

}  // namespace fdp
