// SHA-256 of a byte string or a file, as lower-case hex, for tests that compare what a
// download stored with what was sent.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace fdp::test {

std::string Sha256Hex(std::span<const std::uint8_t> data);
// Nothing when the file cannot be read.
std::optional<std::string> Sha256File(const std::string& path);

}  // namespace fdp::test
