// kelvane-cli's command line read into its options; a usage error said as the tool says
// every one.
#pragma once

#include "tools/cli/CliOptions.h"

namespace cli {

// Reads the options and the operation's words; false for a usage error. Help or the
// version asked for makes a command line without an operation complete.
bool ParseCommandLine(int argc, char** argv, CliOptions& options);

// The short usage on standard error; returns the exit code of a usage error.
int UsageError();

}  // namespace cli
