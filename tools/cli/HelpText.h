// kelvane-cli's own words about its command line: --help prints the whole text on
// standard output; a usage error prints the short form on standard error. The text is
// made of the operation table's rows; the manual page, the README and the bash
// completion are checked against the table's words.
#pragma once

#include <string>

namespace cli {

// Every operation (a line of its own under "operations:", starting with its name) and
// every option, with the exit codes.
std::string HelpText();

// Two lines: the command's form and where the whole help is.
std::string ShortUsage();

// The table's words as bash assignments, for the bash completion (made from them when
// the program is built) and the tests: operations, options (the common ones), valued
// (every option that takes a value), operation_options ([OPERATION]='...') and choices
// ([OPERATION:N]='...', the words argument N takes).
std::string ListWords();

}  // namespace cli
