// kelvane-cli history [--last N]: the update history as a table; no link is opened.
#pragma once

#include "tools/cli/CliRun.h"

namespace cli {

int RunHistory(CliRun& run);

}  // namespace cli
