// The byte layout of a link frame, apart from what its codes mean: raw Ethernet frames
// of type 0x0707, all integers little-endian, offsets counted from the destination
// address (byte 0 of the Ethernet frame). Shared by the PC's link and the target
// simulator; what each frame type and code means lives with each side (fdp/Frame.h for
// the PC), so that the two read the protocol independently.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace fdp {

inline constexpr std::uint16_t FDP_ETHERTYPE = 0x0707;

inline constexpr std::size_t kEthAddrLen = 6;
inline constexpr std::size_t kEthHeaderLen = 14;        // dst, src, type
inline constexpr std::size_t kMinPayload = 46;          // shorter payloads are zero padded
inline constexpr std::size_t kMaxPayload = 1500;        // longer payloads are refused
inline constexpr std::size_t kMaxFrame = kEthHeaderLen + kMaxPayload;
inline constexpr std::size_t kFrameTypeOffset = 14;
inline constexpr std::size_t kBodyOffset = 15;          // first byte after the frame type
// Data frame layout inside the payload: type, code, 16-bit length, data.
inline constexpr std::size_t kDataHeaderLen = 4;

using MacAddress = std::array<std::uint8_t, kEthAddrLen>;

inline std::uint16_t ReadLe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t ReadLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void WriteLe16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void WriteLe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A data frame's body (from the code byte on), checked against the bytes received.
struct DataView {
    std::uint8_t code = 0;
    std::uint16_t declared = 0;            // the length field as sent
    std::span<const std::uint8_t> data;    // at most the bytes actually received
};

// Nothing for a body under 3 bytes. The data never reaches past the received bytes,
// whatever the length field claims.
std::optional<DataView> ParseData(std::span<const std::uint8_t> body);

// Assembles a link frame in out: destination, source, 0x0707, the payload, then zero
// bytes up to a 46-byte payload, so that no frame is shorter than 60 bytes (the
// adapter adds the check sequence). Returns the frame's length; 0, with nothing
// written, for a payload over 1500 bytes or an out buffer too small for the frame.
// out is reused from frame to frame, so the padding is always written.
std::size_t BuildFrame(std::span<std::uint8_t> out, std::span<const std::uint8_t, kEthAddrLen> destination,
                       std::span<const std::uint8_t, kEthAddrLen> source, std::span<const std::uint8_t> payload);

// Ethernet frame fields of a received link frame.
struct FrameView {
    MacAddress source{};
    std::uint8_t type = 0;
    std::span<const std::uint8_t> body;    // bytes from offset 15 on
};

// Nothing unless the frame is long enough to hold a frame type and carries 0x0707.
std::optional<FrameView> ParseFrame(std::span<const std::uint8_t> frame);

}  // namespace fdp
