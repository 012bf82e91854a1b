// What the store knows of its block after a successful load. The view is bound once
// the block has come from a file; until then it counts no rows and every lookup by
// id fails. Only the row count steers lookups; format and version are kept for show.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace param {

struct ParamView {
    bool bound = false;
    std::array<std::uint8_t, 4> format{};   // image bytes 0-3 as stored
    std::string version;                    // first 8 bytes of the description area, up to a NUL
    std::int32_t rowCount = 0;              // image bytes 4-7, little-endian; may be out of range
};

}  // namespace param
