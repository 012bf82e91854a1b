#include "tools/cli/DownloadCommand.h"

#include <cstdio>

#include "fdp/LinkTexts.h"
#include "fdp/FirmwareFile.h"
#include "fdp/FirmwareVersion.h"
#include "fdp/Sha256.h"
#include "resources/strings/StringIds.h"
#include "resources/strings/StringTable.h"
#include "tools/cli/CliFiles.h"
#include "tools/cli/CommandLine.h"
#include "tools/cli/ExitCodes.h"
#include "tools/cli/FirmwareCheck.h"
#include "tools/cli/LineTexts.h"
#include "tools/cli/CliLink.h"
#include "tools/cli/ParamTaskArgs.h"
#include "tools/cli/Say.h"

using namespace fdp;
using namespace std::chrono_literals;

namespace cli {

namespace {

bool KindFromName(const std::string& name, std::uint8_t& kind) {
    if (name == "boot") kind = KindBoot;
    else if (name == "program") kind = KindProgram;
    else if (name == "param") kind = KindParam;
    else return false;
    return true;
}

// After a burnt firmware area: the version the target now reports, said and recorded;
// with --verify a version other than the file's (or none) fails the run.
int ReportVersionAfter(CCliLink& link, CliRun& run, std::uint8_t kind, const std::string& file) {
    const auto after = link.Front().BurntVersion();
    const std::string text = after ? after->Text() : std::string();
    Say("%s\n", after ? res::FormatString(res::IDS_VERSION_AFTER, {text}).c_str()
                              : res::LoadString(res::IDS_VERSION_AFTER_UNREAD).c_str());
    run.report.SetVersionAfter(after ? std::optional<std::string>(text) : std::nullopt);
    if (!run.options.verify) return ExitOk;
    FirmwareVersion fileVersion;
    const std::string expected =
        fdp::ReadFileVersion(kind == KindBoot ? fdp::FirmwareBoot : fdp::FirmwareProgram, file, 0, fileVersion) == 0
            ? fileVersion.Text()
            : std::string("?");
    if (after && text == expected) return ExitOk;
    Complain("%s\n",
                 res::FormatString(res::IDS_VERSION_MISMATCH, {after ? text : std::string("?"), expected}).c_str());
    return ExitVersionMismatch;
}

}  // namespace

int RunDownload(CliRun& run) {
    std::uint8_t kind = 0;
    const std::string file = run.Arg(2);
    if (!KindFromName(run.Arg(1), kind) || file.empty()) return UsageError();
    std::uint64_t fileSize = 0;
    const bool firmware = kind != KindParam;
    const fdp::FirmwareKind firmwareKind = kind == KindBoot ? fdp::FirmwareBoot : fdp::FirmwareProgram;
    if (const std::string problem = InputFileProblem(file, fileSize); !problem.empty()) {
        if (firmware) Complain("%s\n", FileCheckMessage(fdp::FileCheckCannotOpen).c_str());
        Complain("Cannot read %s: %s\n", file.c_str(), problem.c_str());
        return ExitFiles;
    }
    if (firmware) {
        if (const auto refused = RefuseFirmwareFile(firmwareKind, file, run.options.force)) return *refused;
    }
    // A parameter block holds the login password: its fields by name, no hash.
    if (firmware) {
        run.report.SetFile(file, Sha256File(file));
    } else {
        run.report.SetFile(file, std::nullopt);
        run.report.SetFields(ChangedFieldsOf(file));
    }

    CCliLink link(run);
    if (const auto failed = link.Connect(run.options.folder.empty() ? ProgramFolder() : run.options.folder, kind))
        return *failed;
    if (firmware) {
        // A version the target does not give (refused, failed, timed out) may be newer
        // than the file: refused as a downgrade would be, unless forced.
        auto block = MakeBuffer(kVersionBlockLen);
        const std::uint8_t wanted = kind == KindBoot ? 13 : 14;
        (*block)[0] = wanted;
        std::optional<FirmwareVersion> target;
        if (link.RunTransfer(link.Link().GetTargetVersion(block)) == 0) {
            target = FirmwareVersion::FromAnswer(block->data(), wanted);
            // The version read goes into the update history with the download.
            link.Link().History().SetTargetVersion(kind, target->Text());
        }
        // On a production line a unit that runs the file's version already is skipped.
        FirmwareVersion fileVersion;
        if (run.seat && target && ReadFileVersion(firmwareKind, file, 0, fileVersion) == FileCheckOk &&
            fileVersion.Text() == target->Text()) {
            const std::string text = AlreadyHasText(target->Text());
            Say("%s\n", text.c_str());
            run.report.SetOutcome("check", text);
            run.seat->AlreadyHas(target->Text());
            return ExitOk;
        }
        if (const auto refused = RefuseFirmwareVersion(firmwareKind, file, target, run.options.force)) return *refused;
    }
    if (const auto failed = DownloadArea(link, run, "kelvane-cli download", kind, file, fileSize)) return *failed;
    return firmware ? ReportVersionAfter(link, run, kind, file) : ExitOk;
}

std::optional<int> DownloadArea(CCliLink& link, CliRun& run, const std::string& task, std::uint8_t kind,
                                const std::string& path, std::uint64_t fileSize) {
    CCliFrontEnd& front = link.Front();
    CRequestFrontEnd& requests = link.Link();
    requests.History().SetTask(task);
    if (kind == KindParam) requests.History().SetFields(ChangedFieldsOf(path));
    front.BeginDownload();
    if (requests.StartDownload(kind, path) != 0) {
        Say("%s\n", requests.resultText().c_str());
        return OperationExit(FdpBusy);
    }
    // Transfer (2 s a block, three sends) is bounded by the file; erase and burn by their waits.
    const auto& timeouts = link.Timeouts();
    const auto blocks = fileSize / 1024 + 3;
    const auto bound = std::chrono::milliseconds(blocks * (timeouts.status * timeouts.blockSends + run.options.paceMs) +
                                                 2 * timeouts.Flash(kind) + timeouts.transfer) + 5s;
    if (!front.WaitDownloadEnd(bound)) {
        if (front.Interrupted()) return link.StopInterrupted(Stopped::Download, kind);
        Say("%s\n", ResultText(FdpTimeout).c_str());
        link.RecordOutcome(front.LastStage(), FdpTimeout);
        return OperationExit(FdpTimeout);
    }
    Say("%s\n", requests.resultText().c_str());
    link.RecordOutcome(front.LastStage(), front.DownloadResult());
    if (front.DownloadResult() != 0) return OperationExit(front.DownloadResult());
    return std::nullopt;
}

int RunCheck(CliRun& run) {
    if (run.Arg(1).empty()) return UsageError();
    return RunFileCheck(run.Arg(1));
}

int RunErase(CliRun& run) {
    std::uint8_t kind = 0;
    if (!KindFromName(run.Arg(1), kind)) return UsageError();
    CCliLink link(run);
    if (const auto failed = link.Connect(run.options.folder.empty() ? ProgramFolder() : run.options.folder, kind))
        return *failed;
    FdpRequest request;
    request.job = JobErase;
    request.kind = kind;
    if (link.Engine().Submit(request) != 0) return OperationExit(FdpBusy);
    const unsigned code = link.WaitOutcome(JobErase, link.Timeouts().Flash(kind));
    if (link.Front().Interrupted()) return link.StopInterrupted(Stopped::Erase, kind);
    const Stage eraseEnd = Stage::Of(kind, false, Stage::Ended);
    Say("%s%s\n", StageText(eraseEnd).c_str(), ResultText(code).c_str());
    if (const auto lost = link.Link().AdapterLostText(eraseEnd, code)) Say("%s\n", lost->c_str());
    link.RecordOutcome(eraseEnd, code);
    return OperationExit(code);
}

}  // namespace cli
