// The firmware file page's checks for kelvane-cli: before a boot or program download
// the file must open, lie in its kind's size window, start with the vector table and
// carry a version above the target's. A batch tool asks nothing: a file that fails is
// refused with the page's message, unless --force lets it go with a warning.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "fdp/FirmwareFile.h"

namespace cli {

// Exit code of a file the checks refuse.
inline constexpr int ExitRefused = 6;

// The page's message for a check result, with plain line ends.
std::string FileCheckMessage(unsigned result);

// The file checks before anything is sent; an exit code when the file is refused
// (after its message went to stderr). A file that cannot be opened is refused even
// with force, since there is nothing to send.
std::optional<int> RefuseFirmwareFile(fdp::FirmwareKind kind, const std::string& path, bool force);

// The version comparison once the target has been asked for its version; an exit code
// when the file is not newer than the target's firmware, or the target's version could
// not be read (none), and force is not given.
std::optional<int> RefuseFirmwareVersion(fdp::FirmwareKind kind, const std::string& path,
                                         const std::optional<fdp::FirmwareVersion>& target, bool force);

// kelvane-cli check FILE: the kind its size suggests, the signature verdict and the
// version; 0 when a download of that kind would take it, else an exit code.
int RunFileCheck(const std::string& path);

}  // namespace cli
