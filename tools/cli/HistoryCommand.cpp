#include "tools/cli/HistoryCommand.h"

#include <cstdio>

#include "fdp/UpdateHistory.h"
#include "tools/cli/CliFiles.h"
#include "tools/cli/ExitCodes.h"

namespace cli {

int RunHistory(CliRun& run) {
    const CliOptions& options = run.options;
    const std::size_t last = options.historyLast;
    const fdp::CUpdateHistory history(
        fdp::HistoryFileIn(options.folder.empty() ? ProgramFolder(FolderUse::ReadOnly) : options.folder));
    const auto lines = last ? history.ReadLast(last) : history.Read();
    if (lines.empty()) {
        std::printf("No downloads recorded in %s\n", history.Path().c_str());
        return ExitOk;
    }
    std::fputs(fdp::FormatHistoryTable(lines, 0).c_str(), stdout);
    return ExitOk;
}

}  // namespace cli
