#include "tools/cli/RequestCommand.h"

#include <algorithm>
#include <cstdio>

#include "fdp/LinkTexts.h"
#include "fdp/FirmwareVersion.h"
#include "fdp/Sha256.h"
#include "hci/LoopRunner.h"
#include "tools/cli/CliFiles.h"
#include "tools/cli/CommandLine.h"
#include "tools/cli/ExitCodes.h"
#include "tools/cli/CliLink.h"
#include "tools/cli/TargetsCommand.h"
#include "tools/cli/Say.h"

using namespace fdp;

namespace cli {

namespace {

// Logs in for a request; the exit code when that failed.
std::optional<int> Connect(CCliLink& link, const CliRun& run) {
    return link.Connect(run.options.folder.empty() ? ProgramFolder() : run.options.folder, 0);
}

// Waits for a submitted request and records its outcome: the exit code when it ended
// without an answer (Ctrl-C, or the target's result), nothing when the block holds one.
std::optional<int> AwaitAnswer(CCliLink& link, int submitted) {
    const unsigned code = link.RunTransfer(submitted);
    if (link.Front().Interrupted()) return link.StopInterrupted(Stopped::Request, 0);
    link.RecordOutcome(Stage{Stage::Transfer, Stage::Ended}, code);
    if (code != 0) return OperationExit(code);
    return std::nullopt;
}

}  // namespace

int RunVersion(CliRun& run) {
    const std::string area = run.Arg(1);
    if (area != "boot" && area != "program") return UsageError();
    CCliLink link(run);
    if (const auto failed = Connect(link, run)) return *failed;
    auto block = MakeBuffer(kVersionBlockLen);
    (*block)[0] = area == "boot" ? 0x0D : 0x0E;
    if (const auto ended = AwaitAnswer(link, link.Link().GetTargetVersion(block))) return *ended;
    const std::string version = FirmwareVersion::FromLe(block->data()).Text();
    Say("%s version: %s\n", area.c_str(), version.c_str());
    run.report.SetVersion(area, version);
    return ExitOk;
}

int RunSaveBlock(CliRun& run) {
    const std::string out = run.Arg(1);
    if (out.empty()) return UsageError();
    if (const std::string problem = OutputFileProblem(out); !problem.empty()) {
        Complain("%s\n", problem.c_str());
        return ExitFiles;
    }
    CCliLink link(run);
    if (const auto failed = Connect(link, run)) return *failed;
    CCliFrontEnd& front = link.Front();
    CRequestFrontEnd& requests = link.Link();
    auto buffer = MakeBuffer(kParamImageLen);
    const bool params = run.Arg(0) == "params";
    const int submitted = params ? requests.GetParams(buffer) : requests.GetTrace(buffer);
    Say("%s\n", requests.resultText().c_str());
    if (submitted != 0) return OperationExit(FdpBusy);
    const unsigned code = link.WaitOutcome(params ? JobGetParams : JobGetTrace,
                                           params ? link.Timeouts().params : link.Timeouts().trace);
    if (front.Interrupted()) return link.StopInterrupted(Stopped::Request, 0);
    const Stage ended{params ? Stage::ReadParams : Stage::ReadTrace, Stage::Ended};
    Say("%s%s\n", StageText(ended).c_str(), ResultText(code).c_str());
    link.RecordOutcome(ended, code);
    if (code != 0) return OperationExit(code);
    const std::size_t size = params ? kParamImageLen : std::min<std::size_t>(requests.TraceTotal(), buffer->size());
    bool refused = false;
    if (const std::string error = WriteOutputFile(out, {buffer->data(), size}, refused); !error.empty()) {
        Complain("%s\n", error.c_str());
        run.report.SetOutcome("files", error);
        return refused ? ExitFiles : OperationExit(FdpFileError);
    }
    run.report.SetFile(out, params ? std::nullopt : Sha256File(out));
    return ExitOk;
}

int RunDiagnose(CliRun& run) {
    CCliLink link(run);
    if (const auto failed = Connect(link, run)) return *failed;
    auto block = MakeBuffer(kTestBlockLen);
    (*block)[0] = 0xFF;
    const int submitted = link.Link().DiagnoseTarget(block);
    Say("%s\n", link.Link().resultText().c_str());
    if (const auto ended = AwaitAnswer(link, submitted)) return *ended;
    const std::uint8_t units = (*block)[0];
    if (units == 0xFF) {
        Say("The connection with NAP is disconnected, Please restart Kelvane!\n");
        return OperationExit(FdpFailed);
    }
    static const char* const kUnits[] = {"UART", "MAC", "RAM", "FLASH", "TIMER", "BT_Module"};
    for (int bit = 0; bit < 6; ++bit) Say("%s %s\n", kUnits[bit], (units >> bit) & 1 ? "is ok!" : "failed!");
    return (units & 0x3F) == 0x3F ? ExitOk : OperationExit(FdpFailed);
}

// The HCI command Enable_Device_Under_Test_Mode, passed to the Bluetooth module.
int RunTestMode(CliRun& run) {
    CCliLink link(run);
    if (const auto failed = Connect(link, run)) return *failed;
    auto block = hci::CLoopRunner::TargetTestModeBlock();
    const int submitted = link.Link().EnableTargetTestMode(block);
    Say("%s\n", link.Link().resultText().c_str());
    if (const auto ended = AwaitAnswer(link, submitted)) return *ended;
    const bool ok = (*block)[0] == 0;
    Say("%s\n", ok ? "Target has been under the Test Mode!" : "Enable target under test mode failed!");
    return ok ? ExitOk : OperationExit(FdpFailed);
}

int RunTargetsRequest(CliRun& run) {
    run.reportWanted = false;   // with --json, an object per target instead
    return RunTargets({run.options.seconds}, {run.options.interface, run.options.target, run.options.json, run.options.jsonFd, run.broker});
}

}  // namespace cli
