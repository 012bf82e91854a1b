// kelvane-cli's exit codes common to every operation; an operation's own ones are
// declared with it (FirmwareCheck, LoopTestCommand, TargetsCommand).
#pragma once

#include <algorithm>

namespace cli {

// 0 success; 1 usage, or a parameter task's value the target would not take; 2 no
// adapter opened; 3 the link files could not be created, a FILE or OUT named by the user
// cannot be used (also an OUT of another user's), the folder of --folder is refused, or
// param.jdp cannot be read, copied or replaced; 20 + ConnectResult
// when the login failed; 40 + result when the operation failed (41 failed, 43 time-out,
// 48 the adapter went away, 50 file error, 40 + a target status byte ...).
inline constexpr int ExitOk = 0, ExitUsage = 1, ExitNoAdapter = 2, ExitFiles = 3, ExitConnect = 20,
                     ExitOperation = 40;
// --verify: the version the target reports after the burn is not the file's.
inline constexpr int ExitVersionMismatch = 7;
// Several targets answered before the login (several addresses, or one address on
// several adapters): none was logged in to.
inline constexpr int ExitSeveralTargets = 9;

inline int OperationExit(unsigned result) {
    return result == 0 ? ExitOk : static_cast<int>(std::min(255u, ExitOperation + result));
}

}  // namespace cli
