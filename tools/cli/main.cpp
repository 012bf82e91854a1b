// kelvane-cli: the device link from the command line, for scripts and production lines.
// Opens the adapter, logs in and runs one operation, printing the wizard's texts.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fdp/CapabilityDrop.h"
#include "fdp/FdpTypes.h"
#include "fdp/LinkBroker.h"
#include "fdp/TargetAddress.h"
#include "hci/HciTransport.h"
#include "resources/strings/StringIds.h"
#include "resources/strings/StringTable.h"
#include "tools/cli/CliFiles.h"
#include "tools/cli/CliRun.h"
#include "tools/cli/CommandLine.h"
#include "tools/cli/ExitCodes.h"
#include "tools/cli/HelpText.h"
#include "tools/cli/Interrupt.h"
#include "tools/cli/LoginPasswords.h"
#include "tools/cli/OperationTable.h"
#include "tools/cli/ProductionLine.h"
#include "tools/cli/RunReport.h"

using namespace cli;

int main(int argc, char** argv) {
    if (!res::UseSystemLanguage())
        std::fprintf(stderr, "kelvane-cli: cannot read the translation %s; the texts stay English\n",
                     res::UnreadCatalogue().c_str());
    CliOptions options;
    const bool parsed = ParseCommandLine(argc, argv, options);
    // Asked for, the help is the answer, whatever else is given: standard output, success.
    if (options.help) {
        std::fputs(HelpText().c_str(), stdout);
        return ExitOk;
    }
    if (options.listWords) {
        std::fputs(ListWords().c_str(), stdout);
        return ExitOk;
    }
    // The link's packet socket (held by the link broker process) and the loop test's hciN
    // controller are the only things that need a capability: opened now, then every
    // capability goes, before any file is read or any other option acted on. A socket that
    // does not open is told of when the link starts.
    const Operation* operation = options.operation.empty() ? nullptr : FindOperation(options.operation[0]);
    const bool loop = operation && operation->link == LinkUse::Loop;
    std::optional<fdp::LinkBrokerHandle> broker;
    if (parsed && NeedsLink(options)) broker = fdp::StartLinkBroker();
    if (parsed && loop) hci::PreopenHciTransport(options.dongle);
    if (std::string error; !fdp::DropCapabilities(error)) {
        std::fprintf(stderr, "kelvane-cli: %s\n", error.c_str());
        return ExitUsage;
    }
    // Before the link's threads, which inherit its mask. The loop test's own waits do not
    // watch for it, so there Ctrl-C keeps ending the tool at once.
    if (!loop) CInterrupt::Install();
    // --json: the object alone on standard output, every human text on standard error;
    // --quiet: no human texts (complaints still go to standard error).
    const bool terminal = isatty(STDOUT_FILENO) != 0;
    const int jsonFd = options.json ? ::dup(STDOUT_FILENO) : -1;
    // --repeat's summary lines: standard output as given, also with --quiet.
    const int summaryFd = options.json ? STDERR_FILENO : ::dup(STDOUT_FILENO);
    if (options.json) ::dup2(STDERR_FILENO, STDOUT_FILENO);
    if (options.quiet) {
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) ::dup2(null, STDOUT_FILENO);
        if (null >= 0) ::close(null);
    }
    options.progress = options.progress && terminal && !options.quiet;
    // What this run did, for --json; not wanted when the operation writes its own.
    CRunReport report;
    bool reportWanted = true;
    const auto finish = [&](int code) {
        std::fflush(stdout);
        if (jsonFd >= 0 && reportWanted) {
            const std::string line = report.Json(code) + "\n";
            if (::write(jsonFd, line.data(), line.size()) < 0) return code;
        }
        return code;
    };
    if (!parsed) {
        CliRun refused{options, report, nullptr, true, std::nullopt};
        NameOperation(refused);
        return finish(UsageError());
    }
    if (options.version) {
        std::printf("kelvane-cli %s\nfiles: %s\n", KELVANE_VERSION,
                    (options.folder.empty() ? ProgramFolder(FolderUse::ReadOnly) : options.folder).c_str());
        return ExitOk;
    }
    if (options.allTargets || options.watch || options.maxParallel) {
        const auto problem = options.allTargets ? LineUsageProblem(options)
                                                : std::optional<std::string>("--watch and --max-parallel go with --all-targets");
        if (problem) {
            std::fprintf(stderr, "kelvane-cli: %s\n", problem->c_str());
            return finish(ExitUsage);
        }
    }
    if (options.targetText) {
        options.target = fdp::ParseTargetAddress(*options.targetText);
        if (!options.target) {
            std::fprintf(stderr, "kelvane-cli: %s\n",
                         res::FormatString(res::IDS_BAD_TARGET_ADDRESS, {*options.targetText}).c_str());
            return finish(ExitUsage);
        }
        if (options.repeat) {
            std::fprintf(stderr, "kelvane-cli: %s\n", res::LoadString(res::IDS_TARGET_WITH_REPEAT).c_str());
            return finish(ExitUsage);
        }
    }
    // A folder named for the working files gets the per-user folder's checks; refused, the
    // run does nothing rather than go on without the history the user asked to keep.
    if (!options.folder.empty() && operation && operation->link != LinkUse::None) {
        if (const std::string problem = NamedFolderProblem(options.folder); !problem.empty()) {
            std::fprintf(stderr, "kelvane-cli: %s\n", problem.c_str());
            CliRun refused{options, report, nullptr, true, std::nullopt};
            NameOperation(refused);
            report.SetOutcome("files", problem);
            return finish(ExitFiles);
        }
    }
    options.jsonFd = jsonFd;
    if (const auto failed = ResolvePasswords(options)) return finish(*failed);
    if (options.allTargets) {
        // Each target's object and a summary object are the line's own.
        const bool human = !options.quiet;
        return RunProductionLine(options, broker, {human ? STDOUT_FILENO : -1, options.progress && !options.json});
    }
    const auto runOnce = [&](std::vector<fdp::MacAddress>* served) {
        CliRun run{options, report, served, true, broker};
        const int code = RunOperation(run);
        reportWanted = reportWanted && run.reportWanted;
        return code;
    };
    if (!options.repeat) return finish(runOnce(nullptr));

    // --repeat: the same operation on every new target until interrupted, a summary line
    // (and with --json an object) per target. A summary is shown even with --quiet.
    std::vector<fdp::MacAddress> served;
    int worst = ExitOk;
    for (;;) {
        report = CRunReport();
        const int code = runOnce(&served);
        // Several new targets at once: which is next is the technician's to settle.
        if (code == ExitUsage || code == ExitNoAdapter || code == ExitFiles || code == ExitSeveralTargets)
            return finish(code);
        const bool listenedOnly = report.Target().empty();
        if (CInterrupt::Signal()) return listenedOnly ? worst : finish(code);
        if (listenedOnly && code == ExitConnect + fdp::ConnectTimeout) continue;   // nobody new yet: wait on
        finish(code);
        if (code != ExitOk) worst = code;
        const std::string line = report.Summary(code) + "\n";
        if (::write(summaryFd, line.data(), line.size()) < 0) return worst;
    }
}
