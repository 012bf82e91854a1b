// kelvane-cli's own words about its command line, in one place: --help prints the whole
// text on standard output; a usage error prints the short form on standard error. The
// manual page, the README and the bash completion are checked against the operations
// and options named here.
#pragma once

namespace cli {

// Every operation (a line of its own under "operations:", starting with its name) and
// every option, with the exit codes.
const char* HelpText();

// Two lines: the command's form and where the whole help is.
const char* ShortUsage();

}  // namespace cli
