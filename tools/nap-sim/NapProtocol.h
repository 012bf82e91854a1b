// The link protocol as the simulated target reads it: the frame types, command and
// reply codes it acts on and answers with, the login statuses, the transfer
// sub-operations, and which parameter holds its login password. This is the target's
// own table, kept apart from the PC's (which does not compile here): a misreading of the
// protocol on either side then shows as a failed run between the two instead of both
// agreeing with themselves. Only the byte layout (fdp/FrameCodec.h) is shared.
#pragma once

#include <cstddef>
#include <cstdint>

namespace napsim::wire {

// Frame types, the byte at offset 14.
inline constexpr std::uint8_t kAnnounce = 0x01;
inline constexpr std::uint8_t kLogin = 0x02;
inline constexpr std::uint8_t kLoginReply = 0x03;
inline constexpr std::uint8_t kData = 0x05;

// A login frame: type, a 4-byte random number, the 16-byte answer.
inline constexpr std::size_t kLoginAnswerOffset = 4;   // in the body, after the type
inline constexpr std::size_t kLoginAnswerLen = 16;
// The answer's last four bytes are mixed with the challenge; the first twelve carry
// the password as typed.
inline constexpr std::size_t kChallengeMixOffset = 12;

// Login statuses. The PC refuses these; every other status opens the session.
inline constexpr std::uint8_t kLoginAccepted = 0;
inline constexpr std::uint8_t kLoginWrongPassword = 1;
inline constexpr std::uint8_t kLoginFlashUnsupported = 2;
inline constexpr std::uint8_t kLoginPcTooOld = 9;
inline constexpr std::uint8_t kLoginError = 11;

// Flash areas; an area's number is also the command code of its data blocks.
inline constexpr std::uint8_t kAreaBoot = 0x01;
inline constexpr std::uint8_t kAreaProgram = 0x03;
inline constexpr std::uint8_t kAreaParam = 0x05;

// Commands the target acts on.
inline constexpr std::uint8_t kCmdBurn = 0x07;
inline constexpr std::uint8_t kCmdAbort = 0x09;
inline constexpr std::uint8_t kCmdStart = 0x0B;          // area, 4-byte total length
inline constexpr std::uint8_t kCmdEraseBoot = 0x11;
inline constexpr std::uint8_t kCmdEraseProgram = 0x13;
inline constexpr std::uint8_t kCmdEraseParam = 0x15;
inline constexpr std::uint8_t kCmdGetParams = 0x21;
inline constexpr std::uint8_t kCmdTransfer = 0x31;       // sub-operation, then its block
inline constexpr std::uint8_t kCmdGetTrace = 0x41;

// Replies the target sends.
inline constexpr std::uint8_t kRspStatus = 0x02;         // or 0x04, which the PC takes alike
inline constexpr std::uint8_t kRspStatusAlt = 0x04;
inline constexpr std::uint8_t kRspErase = 0x12;
inline constexpr std::uint8_t kRspParamsData = 0x22;
inline constexpr std::uint8_t kRspParamsEnd = 0x24;
inline constexpr std::uint8_t kRspTransferData = 0x32;
inline constexpr std::uint8_t kRspTransferEnd = 0x34;
inline constexpr std::uint8_t kRspTraceLength = 0x42;
inline constexpr std::uint8_t kRspTraceData = 0x44;

// Transfer sub-operations.
inline constexpr std::uint8_t kSubDiagnose = 0;
inline constexpr std::uint8_t kSubLoopSetup = 1;
inline constexpr std::uint8_t kSubLoopSend = 2;
inline constexpr std::uint8_t kSubTestMode = 3;
inline constexpr std::uint8_t kSubLoopReceive = 4;
inline constexpr std::uint8_t kSubVersion = 8;
// The version request's first byte: which version is wanted.
inline constexpr std::uint8_t kVersionOfBoot = 0x0D;
inline constexpr std::uint8_t kVersionOfProgram = 0x0E;

// Download blocks are numbered 1, 2, ..., 1000, 0, 1, ...; answers 1, 2, 3, ...
inline std::uint16_t NextDownloadBlock(std::uint16_t number) {
    return number >= 1000 ? std::uint16_t{0} : static_cast<std::uint16_t>(number + 1);
}

// The parameter block: 8192 bytes. The login password is parameter 3 (16 bytes); it
// becomes the target's password when bit 28 of the change mask, parameter 12, is set.
inline constexpr std::size_t kParamBlockLen = 8192;
inline constexpr std::uint16_t kParamPassword = 3;
inline constexpr std::size_t kPasswordLen = 16;
inline constexpr std::uint16_t kParamChangeMask = 12;
inline constexpr std::uint32_t kPasswordChanged = 1u << 28;

}  // namespace napsim::wire
