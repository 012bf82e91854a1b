// kelvane-cli's operations, one row each: the name, what it needs opened before the
// capabilities go, and the function that runs it. Adding an operation is a row here and
// its run function in the file of its family.
#pragma once

#include <span>
#include <string_view>

#include "tools/cli/CliRun.h"

namespace cli {

// What an operation opens while the process still has its capabilities.
enum class LinkUse {
    None,     // no target: works for every user
    Target,   // the link's packet socket
    Loop,     // the packet socket (unless the dongle's own test mode) and the dongle
};

struct Operation {
    std::string_view name;
    int (*run)(CliRun& run);
    LinkUse link = LinkUse::Target;
    // How the report names the operation.
    enum class Name { Plain, WithArea, None } report = Name::Plain;
};

std::span<const Operation> Operations();

// The row of this name; null for none.
const Operation* FindOperation(std::string_view name);

// Whether the operation asked for needs the link's packet socket.
bool NeedsLink(const CliOptions& options);

// Runs the operation asked for; a usage error for an unknown one.
int RunOperation(CliRun& run);

}  // namespace cli
