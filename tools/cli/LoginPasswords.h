// The login password and set-name-password's new one, from the command line, a file,
// the environment or standard input, read before anything else is done.
#pragma once

#include <optional>

#include "tools/cli/CliOptions.h"

namespace cli {

// Puts the login password in options.password and the new one in the operation's
// words; an exit code when one cannot be had.
std::optional<int> ResolvePasswords(CliOptions& options);

}  // namespace cli
