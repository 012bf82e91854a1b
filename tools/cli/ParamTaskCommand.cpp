#include "tools/cli/ParamTaskCommand.h"

#include <cstdio>

#include "fdp/FdpTypes.h"
#include "tools/cli/CliFiles.h"
#include "tools/cli/DownloadCommand.h"
#include "tools/cli/ExitCodes.h"
#include "tools/cli/CliLink.h"
#include "tools/cli/ParamDraft.h"
#include "tools/cli/ParamTaskArgs.h"
#include "tools/cli/Say.h"

namespace cli {

int RunParamTask(CliRun& run) {
    // The arguments are checked first, then the working file built is downloaded.
    std::string error;
    const auto request = ParseParamTask(run.options.operation, error);
    if (!request) {
        Complain("kelvane-cli: %s\n", error.c_str());
        return ExitUsage;
    }
    const std::string folder = run.options.folder.empty() ? ProgramFolder() : run.options.folder;
    if (folder.empty()) {
        Complain("There is no working param.jdp to change without a folder for the files\n");
        return ExitFiles;
    }
    // The block goes into a new file; param.jdp takes it once it is burnt.
    CParamDraft draft;
    if (!draft.Create(folder, error) || !BuildParamFile(*request, draft.Path(), error)) {
        Complain("%s\n", error.c_str());
        return ExitFiles;
    }
    const std::string path = draft.Path().string();
    run.report.SetFile(draft.WorkingFile().string(), std::nullopt);
    run.report.SetFields(ChangedFieldsOf(path));

    CCliLink link(run);
    if (const auto failed = link.Connect(folder, fdp::KindParam)) return *failed;
    link.Link().History().SetFile(draft.WorkingFile().string());
    if (const auto failed = DownloadArea(link, run, "kelvane-cli " + run.Arg(0), fdp::KindParam, path, fdp::kParamImageLen))
        return *failed;
    if (!draft.Commit(error)) {
        Complain("The target burnt the parameters, but %s\n", error.c_str());
        return ExitFiles;
    }
    return ExitOk;
}

}  // namespace cli
