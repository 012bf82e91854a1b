// The PC's reading of the link protocol: what each frame type, command and reply code
// means, the login answer and the block numbering. The byte layout itself is in
// FrameCodec.h. The target simulator keeps a table of its own and must not see this one
// (it is built with KELVANE_TARGET_PEER).
#pragma once

#ifdef KELVANE_TARGET_PEER
#error "the target simulator reads the protocol from its own table, not from the PC's"
#endif

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fdp/FrameCodec.h"

namespace fdp {

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

inline constexpr std::size_t kBlockDataLen = 1024;      // file bytes per download block
inline constexpr std::size_t kMaxBlockPayload = 1496;   // block data refused above this
inline constexpr std::size_t kMaxTransferBlock = 1027;  // caller's block in a transfer command
inline constexpr std::uint16_t kBlockWrap = 1000;       // block numbers run 1..1000, 0, 1, ...
inline constexpr std::uint16_t kBrokenSequence = 1000;  // marks a broken answer sequence

inline constexpr std::size_t kLoginLen = 21;            // type, random, response
inline constexpr std::size_t kAnnounceLen = 13;         // type, three 32-bit values

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

}  // namespace fdp
