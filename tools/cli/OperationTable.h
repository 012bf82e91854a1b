// kelvane-cli's operations and options, one row each. The rows drive the command line's
// parsing, the --help text, the word lists of the bash completion and the check of the
// manual page against the program: adding an operation is a row here and its run
// function in the file of its family (download and check, parameter tasks, loop test,
// history, requests).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tools/cli/CliRun.h"

namespace cli {

// What an operation opens while the process still has its capabilities.
enum class LinkUse {
    None,     // no target: works for every user
    Target,   // the link's packet socket
    Loop,     // the packet socket (unless the dongle's own test mode) and the dongle
};

// A whole number from min to max, written in decimal.
struct NumberRange {
    std::uint64_t min = 0, max = 0;
};

struct OptionRow {
    std::string_view names;   // "--interface", or "-h,--help"
    std::string_view value;   // the value's name in the help ("IF"); empty for a flag
    // Takes the value (the number in decimal without leading zeros; empty for a flag).
    void (*set)(CliOptions& options, const std::string& value);
    std::optional<NumberRange> number = {};   // the value must be a whole number in this range
    // Its lines in --help as printed; empty for an operation's own option (its
    // operation's lines tell it) and for the options kept out of the help.
    std::string_view help = {};
    bool hidden = false;   // for the build and the tests only: never in the help
};

struct ArgumentRow {
    std::string_view name;      // "AREA"
    std::string_view choices = {};   // "boot|program|param"; empty: any word
    bool optional = false;
};

struct Operation {
    std::string_view name;
    int (*run)(CliRun& run);
    LinkUse link = LinkUse::Target;
    // How the report names the operation: by its name, with its first argument (the
    // area: "download boot"), or not at all.
    enum class Name { Plain, WithArea, None } report = Name::Plain;
    std::vector<ArgumentRow> arguments = {};
    std::vector<OptionRow> options = {};   // its own, given after its name
    // Its lines under "operations:" in --help, as printed.
    std::string_view help = {};
};

std::span<const Operation> Operations();
// The options of every operation.
std::span<const OptionRow> CommonOptions();

// The row of this name; null for none.
const Operation* FindOperation(std::string_view name);

// Whether the operation asked for needs the link's packet socket.
bool NeedsLink(const CliOptions& options);

// The report's name of the operation asked for (a task's arguments may hold a password).
void NameOperation(CliRun& run);

// Runs the operation asked for; a usage error for an unknown one.
int RunOperation(CliRun& run);

}  // namespace cli
