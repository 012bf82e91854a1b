// Link frame layout: raw Ethernet frames of type 0x0707, all integers little-endian.
// Offsets count from the destination address (byte 0 of the Ethernet frame).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace fdp {

inline constexpr std::uint16_t FDP_ETHERTYPE = 0x0707;

inline constexpr std::size_t kEthAddrLen = 6;
inline constexpr std::size_t kEthHeaderLen = 14;        // dst, src, type
inline constexpr std::size_t kMinPayload = 46;          // shorter payloads are zero padded
inline constexpr std::size_t kMaxPayload = 1500;        // longer payloads are refused
inline constexpr std::size_t kMaxFrame = kEthHeaderLen + kMaxPayload;
inline constexpr std::size_t kFrameTypeOffset = 14;
inline constexpr std::size_t kBodyOffset = 15;          // first byte after the frame type

using MacAddress = std::array<std::uint8_t, kEthAddrLen>;
using PasswordBlock = std::array<std::uint8_t, 16>;

enum FrameType : std::uint8_t {
    FDP_FRAME_ANNOUNCE = 0x01,
    FDP_FRAME_LOGIN = 0x02,
    FDP_FRAME_LOGIN_REPLY = 0x03,
    FDP_FRAME_DATA = 0x05,
};

// Login status of a login reply; other values count as accepted.
enum LoginStatus : std::uint8_t {
    LoginAccepted = 0,
    LoginBadPassword = 1,
    LoginFlashUnsupported = 2,
    LoginVersionLow = 9,
    LoginError = 11,
};

enum CommandCode : std::uint8_t {
    FDP_CMD_BURN = 0x07,
    FDP_CMD_ABORT = 0x09,
    FDP_CMD_START = 0x0B,
    FDP_CMD_ERASE_BASE = 0x10,   // + DownloadKind
    FDP_CMD_GET_PARAMS = 0x21,
    FDP_CMD_TRANSFER = 0x31,
    FDP_CMD_GET_TRACE = 0x41,
};

enum ReplyCode : std::uint8_t {
    FDP_RSP_STATUS_02 = 0x02,
    FDP_RSP_STATUS_04 = 0x04,
    FDP_RSP_ERASE = 0x12,
    FDP_RSP_PARAMS_DATA = 0x22,
    FDP_RSP_PARAMS_END = 0x24,
    FDP_RSP_TRANSFER_DATA = 0x32,
    FDP_RSP_TRANSFER_END = 0x34,
    FDP_RSP_TRACE_LENGTH = 0x42,
    FDP_RSP_TRACE_DATA = 0x44,
};

// The erase command of a flash area.
inline std::uint8_t EraseCode(std::uint8_t kind) { return static_cast<std::uint8_t>(FDP_CMD_ERASE_BASE + kind); }

// Data frame layout inside the payload: type, code, 16-bit length, data.
inline constexpr std::size_t kDataHeaderLen = 4;
inline constexpr std::size_t kBlockDataLen = 1024;      // file bytes per download block
inline constexpr std::size_t kMaxBlockPayload = 1496;   // block data refused above this
inline constexpr std::size_t kMaxTransferBlock = 1027;  // caller's block in a transfer command
inline constexpr std::uint16_t kBlockWrap = 1000;       // block numbers run 1..1000, 0, 1, ...
inline constexpr std::uint16_t kBrokenSequence = 1000;  // marks a broken answer sequence

inline constexpr std::size_t kLoginLen = 21;            // type, random, response
inline constexpr std::size_t kAnnounceLen = 13;         // type, three 32-bit values

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

// The password as 16 bytes: its first 16 bytes, or its bytes then zeros.
PasswordBlock MakePasswordBlock(std::string_view password);

// Password block XOR a challenge block of 12 zero bytes and the challenge's 4 bytes.
PasswordBlock MakeLoginResponse(const PasswordBlock& password, std::uint32_t challenge);

// The block counter of a download: 1, 2, ..., 1000, 0, 1, ...
inline std::uint16_t NextBlockNumber(std::uint16_t counter) {
    const std::uint16_t next = static_cast<std::uint16_t>(counter + 1);
    return next > kBlockWrap ? 0 : next;
}

// Operation group of a command or reply code: its high four bits.
enum CommandGroup : std::uint8_t {
    GroupNone = 0,
    GroupDownload = 1,
    GroupErase = 2,
    GroupGetParams = 3,
    GroupTransfer = 4,
    GroupGetTrace = 5,
};

// The group a reply code belongs to, GroupNone for an unknown reply.
CommandGroup ReplyGroup(std::uint8_t code);

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
