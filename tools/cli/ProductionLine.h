// kelvane-cli --all-targets: one process serves every target that announces on the
// line's adapter, each through a session of its own over one packet driver, all at once
// (or --max-parallel at a time). It listens --seconds before it starts; targets heard
// later join. With --watch it goes on serving each new target until Ctrl-C; a target
// back after its burn is served again only when it did not report the file's version.
//
// Exit: 0 when every target served succeeded (one that already had the file's version
// counts as success), 10 when one failed at least (the summary names them), 8 when none
// was heard, 128 + the signal on Ctrl-C or SIGTERM after saying what each running target
// was left doing.
#pragma once

#include <optional>

#include "fdp/LinkBroker.h"
#include "tools/cli/CliOptions.h"

namespace cli {

inline constexpr int ExitSomeTargetsFailed = 10;

// Where the line writes: human lines (and the table) to humanFd (-1: none, --quiet),
// with --json one object per target and a summary object to options.jsonFd.
struct LineOutput {
    int humanFd = -1;
    bool table = false;   // humanFd is a terminal and progress is wanted
};

// Whether the operation asked for can run on a production line; the usage message
// when it cannot.
std::optional<std::string> LineUsageProblem(const CliOptions& options);

int RunProductionLine(const CliOptions& options, std::optional<fdp::LinkBrokerHandle> broker, LineOutput output);

}  // namespace cli
