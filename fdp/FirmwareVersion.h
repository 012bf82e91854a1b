// A firmware version: four bytes a.b.c.d, most significant first, of which only the low
// four bits count.
#pragma once

#include <cstdint>
#include <string>

namespace fdp {

// Byte 0 of a version request: which area's version is wanted.
inline constexpr std::uint8_t kVersionWantedBoot = 13;
inline constexpr std::uint8_t kVersionWantedProgram = 14;

struct FirmwareVersion {
    std::uint8_t a = 0, b = 0, c = 0, d = 0;

    // From a 32-bit little-endian word as it stands in a file (offset 64) or at the start
    // of the target's version answer: d is its first byte, a its last.
    static FirmwareVersion FromLe(const std::uint8_t* word) { return {word[3], word[2], word[1], word[0]}; }
    // From a version request's block, whose byte 0 said which version was wanted (13
    // boot, 14 program) and which the answer overwrites. A block still as it was sent
    // (refused, failed or unanswered request) reads as 0.0.0.0, not as 0.0.0.13.
    static FirmwareVersion FromAnswer(const std::uint8_t* block, std::uint8_t wanted) {
        if (block[0] == wanted && block[1] == 0 && block[2] == 0 && block[3] == 0) return {};
        return FromLe(block);
    }

    // "a.b.c.d", each the decimal value of its low nibble.
    std::string Text() const {
        return std::to_string(a & 15) + '.' + std::to_string(b & 15) + '.' + std::to_string(c & 15) + '.' +
               std::to_string(d & 15);
    }
    // Weighted for comparisons; nibbles above 9 weigh the same, so 1.10.0.0 equals 2.0.0.0.
    int Value() const { return (a & 15) * 1000 + (b & 15) * 100 + (c & 15) * 10 + (d & 15); }
    // The value of FF FF FF FF, which an area without firmware answers.
    static constexpr int kNoFirmwareValue = 16665;
};

}  // namespace fdp
