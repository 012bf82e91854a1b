// kelvane-cli's parameter tasks (set-name-password, set-network, set-register): the
// block built from the working param.jdp in a new file beside it, downloaded, and put
// in param.jdp's place once the target has burnt it.
#pragma once

#include "tools/cli/CliRun.h"

namespace cli {

int RunParamTask(CliRun& run);

}  // namespace cli
