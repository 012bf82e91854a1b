// kelvane-cli looptest: the loop test's runs without the window.
//   looptest target|dongle|target-testmode|dongle-testmode [--size N] [--speed S] [--master|--slave]
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "hci/LoopRunner.h"
#include "tools/cli/CliRun.h"

namespace fdp {
class CRequestFrontEnd;
}

namespace cli {

enum class LoopTestKind { Target, Dongle, TargetTestMode, DongleTestMode };

struct LoopTestRequest {
    LoopTestKind kind = LoopTestKind::Target;
    hci::LoopSettings settings{1000, 10};
    bool dongleMaster = false;
};

// The request from the operation's words (operation[0] is "looptest") and its options;
// nothing, with the reason in error, when they do not make one.
std::optional<LoopTestRequest> ParseLoopTest(const CliOptions& options, std::string& error);

// Exit codes of a loop test beyond the tool's common ones.
inline constexpr int ExitNoDongle = 4;      // the dongle could not be opened, or went away
inline constexpr int ExitLoopStopped = 5;   // no dongle address, or no ACL connection

// Opens and starts the dongle (device: --dongle, empty for the first hciN), runs the
// test and prints its report lines. front: logged in, except for the dongle test mode,
// which needs no target (null). Returns the exit code.
int RunLoopTest(fdp::CRequestFrontEnd* front, const LoopTestRequest& request, const std::string& device);

// The operation: its words checked, logged in to the target unless the dongle's own
// test mode is asked for, and run with the dongle of --dongle.
int RunLoopTest(CliRun& run);

}  // namespace cli
