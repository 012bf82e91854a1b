// The checks a firmware file passes before it is sent to the target: it opens, its size
// lies in the window of its kind, its first 32 bytes are one of the two ARM exception
// vector tables the target's images start with, and its version word. Shared by the
// firmware file page and kelvane-cli. No Qt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fdp/FirmwareVersion.h"

namespace fdp {

enum FirmwareKind : int { FirmwareBoot = 0, FirmwareProgram = 1 };

// CheckFirmwareFile's results, in the order of their messages 3000 to 3006.
enum FileCheckResult : unsigned {
    FileCheckOk = 0,
    FileCheckCannotOpen = 1,
    FileCheckBootSize = 2,
    FileCheckProgramSize = 3,
    FileCheckSignature = 4,
    FileCheckNoBootPath = 5,
    FileCheckNoProgramPath = 6,
};

// Bits of a check mask: the checks that are on.
enum FileCheckBits : std::uint32_t {
    CheckBootSize = 1u << 0,
    CheckProgramSize = 1u << 1,
    CheckSignature = 1u << 2,
    CheckAll = 0xFFFFFFFFu,
};

struct SizeWindow {
    std::uint64_t min, max;   // inclusive
    bool Holds(std::uint64_t size) const { return size >= min && size <= max; }
};
inline constexpr SizeWindow kBootSizeWindow{1024, 65536};
inline constexpr SizeWindow kProgramSizeWindow{65536, 2023424};

inline constexpr std::size_t kSignatureLen = 32;
inline constexpr std::size_t kVersionOffset = 64;

// True when every one of the first 32 bytes equals the byte at its position in either
// vector table (a file may mix them). Bytes beyond length count as zero.
bool SignatureMatches(const std::uint8_t* bytes, std::size_t length);

// The size (for its kind), then signature checks that are on in checkMask. Only
// regular files are opened, so a device or a pipe never blocks the caller.
unsigned CheckFirmwareFile(FirmwareKind kind, const std::string& path, std::uint32_t checkMask);

// CheckFirmwareFile without showing anything, then the version word at offset 64. A
// file too short for the whole word (possible once the size check is off) reads the
// missing bytes as zero.
unsigned ReadFileVersion(FirmwareKind kind, const std::string& path, std::uint32_t checkMask, FirmwareVersion& version);

// The string id of a check result's message.
unsigned FileCheckTextId(unsigned result);

// Whether a downgrade question is asked: the file's version is not strictly above the
// target's. A program area that answers FF FF FF FF holds no program and counts as 0.
// A target version that could not be read (none: the request was refused, failed or
// timed out) is asked about as an equal one: it may well be newer than the file.
bool FirmwareNeedsConfirmation(FirmwareKind kind, const FirmwareVersion& file,
                               const std::optional<FirmwareVersion>& target);

// The kind a file's size suggests (65536 bytes fits both windows: boot); nothing when
// it fits neither.
std::optional<FirmwareKind> FirmwareKindBySize(std::uint64_t size);

// An image of our own making that passes every check: vector table A, the version word
// at offset 64, then a counting pattern. For sample files and tests.
std::vector<std::uint8_t> MakeSampleFirmware(std::size_t size, const FirmwareVersion& version);

}  // namespace fdp
