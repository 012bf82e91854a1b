// kelvane-cli targets [--seconds N]: the targets that announce on the adapters the link
// would use, without logging in to any. One line per target (address, adapter, announces
// heard, last seen), or with --json one object per target and line.
#pragma once

#include "fdp/LinkBroker.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "fdp/Frame.h"
#include "fdp/HeardTarget.h"

namespace cli {

inline constexpr int ExitNoTargetHeard = 8;

struct TargetsRequest {
    unsigned seconds = 3;
};

struct TargetsSetup {
    std::string interfaceName;                 // --interface; empty: every candidate
    std::optional<fdp::MacAddress> target;     // --target: only this one is listed
    bool json = false;
    int jsonFd = -1;                           // where the objects go with --json
    std::optional<fdp::LinkBrokerHandle> broker;   // the link broker main started
};

// Listens and prints; the exit code: 0 one heard at least, 2 no adapter, 8 none heard.
int RunTargets(const TargetsRequest& request, const TargetsSetup& setup);

// The line that says a heard target: address, adapter, announces, last seen before now.
std::string HeardTargetLine(const fdp::HeardTarget& target, std::chrono::steady_clock::time_point now);

}  // namespace cli
