#include "tools/cli/HistoryCommand.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "fdp/UpdateHistory.h"
#include "tools/cli/CliFiles.h"
#include "tools/cli/CommandLine.h"
#include "tools/cli/ExitCodes.h"

namespace cli {

int RunHistory(CliRun& run) {
    const CliOptions& options = run.options;
    std::size_t last = 0;
    if (options.operation.size() > 1) {
        const std::string& count = options.operation.size() == 3 ? options.operation[2] : std::string();
        char* end = nullptr;
        errno = 0;
        const unsigned long n = std::strtoul(count.c_str(), &end, 10);
        if (options.operation[1] != "--last" || count.empty() || count[0] == '-' || *end != '\0' || errno != 0 ||
            n == 0)
            return UsageError();
        last = n;
    }
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
