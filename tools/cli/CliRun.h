// One run of an operation: what the command line asked for and what the run reports.
// With --repeat the same options serve one run per target.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "fdp/Frame.h"
#include "fdp/LinkBroker.h"
#include "tools/cli/CliOptions.h"
#include "tools/cli/LineSeat.h"
#include "tools/cli/RunReport.h"

namespace cli {

struct CliRun {
    const CliOptions& options;
    CRunReport& report;
    // Targets already served by --repeat (let pass, the one served is added); null
    // without --repeat.
    std::vector<fdp::MacAddress>* served = nullptr;
    // False when the operation writes its own objects with --json (targets).
    bool reportWanted = true;
    // The link broker main started before it gave up its privileges; nothing when the
    // operation needs no link.
    std::optional<fdp::LinkBrokerHandle> broker;
    // On a production line (--all-targets): the target's place there, whose driver the
    // run shares; null for a run of its own.
    ILineSeat* seat = nullptr;

    // The operation's word i (0: its name); empty beyond the last.
    std::string Arg(std::size_t i) const { return i < options.operation.size() ? options.operation[i] : std::string(); }
};

}  // namespace cli
