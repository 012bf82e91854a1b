// The 8192-byte parameter block: the same bytes in memory, in param.jdp and in the
// transfers with the target. It describes itself: a descriptor table names every
// parameter, a value image holds the values packed in row order, a description area
// holds 64-byte texts. Numbers of the descriptor table are little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace param {

inline constexpr std::size_t kBlockSize = 8192;
inline constexpr std::size_t kDescTableOffset = 0;
inline constexpr std::size_t kDescTableSize = 2048;
inline constexpr std::size_t kImageOffset = 2048;
inline constexpr std::size_t kImageSize = 2048;
inline constexpr std::size_t kDescAreaOffset = 4096;
inline constexpr std::size_t kDescAreaSize = 4096;

inline constexpr std::size_t kRowSize = 8;
inline constexpr int kMaxRows = 256;
inline constexpr std::size_t kSlotSize = 64;
inline constexpr std::size_t kSlotCount = 64;

// Image bytes 0-3: the format number, big-endian; 4-7: the row count, little-endian.
inline constexpr std::size_t kFormatImageOffset = 0;
inline constexpr std::size_t kRowCountImageOffset = 4;

// One 64-byte description slot, NUL-terminated and NUL-padded. Slot 0 is the
// block's version text.
using DescText = std::array<char, kSlotSize>;

// Type flags as the standard table uses them; the store hands them back uninterpreted.
enum ParamType : std::uint16_t {
    ParamInternal = 0x08,
    ParamSwitch = 0x10,
    ParamCode = 0x20,
    ParamData = 0x40,
    ParamAddress = 0x80,
};

// One descriptor row.
struct ParamDesc {
    std::uint16_t id = 0;
    std::uint16_t type = 0;
    std::uint16_t length = 0;       // value length in bytes
    std::uint16_t descIndex = 0;    // description slot; 0 = none of its own
    friend bool operator==(const ParamDesc&, const ParamDesc&) = default;
};

struct ParamBlock {
    std::array<std::uint8_t, kBlockSize> bytes{};

    // Rows are decoded from their bytes, so any row index below kMaxRows is valid.
    ParamDesc Row(int row) const;
    void SetRow(int row, const ParamDesc& desc);

    std::span<std::uint8_t, kImageSize> Image() {
        return std::span<std::uint8_t, kBlockSize>(bytes).subspan<kImageOffset, kImageSize>();
    }
    std::span<const std::uint8_t, kImageSize> Image() const {
        return std::span<const std::uint8_t, kBlockSize>(bytes).subspan<kImageOffset, kImageSize>();
    }
    // index below kSlotCount.
    std::span<std::uint8_t, kSlotSize> Slot(std::size_t index) {
        return std::span<std::uint8_t, kSlotSize>(bytes.data() + kDescAreaOffset + index * kSlotSize,
                                                  kSlotSize);
    }
    std::span<const std::uint8_t, kSlotSize> Slot(std::size_t index) const {
        return std::span<const std::uint8_t, kSlotSize>(
            bytes.data() + kDescAreaOffset + index * kSlotSize, kSlotSize);
    }
};

}  // namespace param
