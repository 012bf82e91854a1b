// SHA-256 of a byte string or a file, as lower-case hex: names the file a download sent
// (kelvane-cli's report) and lets tests compare what the target stored with it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace fdp {

std::string Sha256Hex(std::span<const std::uint8_t> data);
// Nothing when the file cannot be read or is no regular file (a FIFO, a device).
std::optional<std::string> Sha256File(const std::string& path);

}  // namespace fdp
