// kelvane-cli's requests to the target that change nothing in its flash: version
// boot|program, params OUT, trace OUT, diagnose, testmode, and targets (the targets
// that announce, without logging in).
#pragma once

#include "tools/cli/CliRun.h"

namespace cli {

int RunVersion(CliRun& run);
// params OUT and trace OUT.
int RunSaveBlock(CliRun& run);
int RunDiagnose(CliRun& run);
int RunTestMode(CliRun& run);
int RunTargetsRequest(CliRun& run);

}  // namespace cli
