// Raw access to a parameter file. Each call opens the file with an exclusive lock
// (flock), so a second opener that also locks is refused, and closes it before
// returning, so the file is free again for the download. Where the file system cannot
// lock at all, the file is used without the lock.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

#include "fdp/param/ParamBlock.h"

namespace param {

// Reads the first bytes of the file, at most buffer's size. Nothing when the file
// cannot be opened, is locked by another opener, or a read fails; otherwise the
// number of bytes read, which is less than the buffer for a short file.
std::optional<std::size_t> ReadParamFile(const std::filesystem::path& path,
                                         std::span<std::uint8_t, kBlockSize> buffer);

// Puts the block in place of the first 8192 bytes of an existing file: the new
// contents go into a new file (mode 0600) beside it, flushed to disk and renamed over
// it. Never creates the file where there was none: bytes past 8191 stay. False when
// the file is missing, read-only, a symbolic link, locked, or a write fails.
bool WriteParamFile(const std::filesystem::path& path, std::span<const std::uint8_t, kBlockSize> block);

}  // namespace param
