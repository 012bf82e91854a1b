#include "tools/cli/LoopTestCommand.h"

#include <cstdio>

#include "fdp/FdpTypes.h"
#include "hci/DongleLink.h"
#include "tools/cli/CliFiles.h"
#include "tools/cli/ExitCodes.h"
#include "tools/cli/CliLink.h"

namespace cli {

namespace {

// The report's lines as a terminal shows them: without the carriage returns.
void Print(const std::string& text) {
    std::string line;
    for (char c : text)
        if (c != '\r') line += c;
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace

std::optional<LoopTestRequest> ParseLoopTest(const CliOptions& options, std::string& error) {
    LoopTestRequest request;
    const std::string what = options.operation.size() > 1 ? options.operation[1] : std::string();
    if (what == "target") request.kind = LoopTestKind::Target;
    else if (what == "dongle") request.kind = LoopTestKind::Dongle;
    else if (what == "target-testmode") request.kind = LoopTestKind::TargetTestMode;
    else if (what == "dongle-testmode") request.kind = LoopTestKind::DongleTestMode;
    else {
        error = "looptest needs target, dongle, target-testmode or dongle-testmode";
        return std::nullopt;
    }
    request.settings = {options.loopSize, options.loopSpeed};
    request.dongleMaster = options.dongleMaster;
    if (const char* problem = hci::LoopSettingsProblem(request.settings)) {
        error = problem;
        return std::nullopt;
    }
    return request;
}

int RunLoopTest(fdp::CRequestFrontEnd* front, const LoopTestRequest& request, const std::string& device) {
    hci::CDongleLink dongle;
    dongle.SetDevice(device);
    dongle.SetMessageHandler([](const std::string& text, const std::string& detail) {
        std::fprintf(stderr, "%s\n", text.c_str());
        if (!detail.empty()) std::fprintf(stderr, "%s\n", detail.c_str());
    });
    dongle.SetDongleMaster(request.dongleMaster);
    if (!dongle.OpenDongle()) return ExitNoDongle;
    const bool dataTest = request.kind == LoopTestKind::Target || request.kind == LoopTestKind::Dongle;
    dongle.StartDongle(dataTest);
    // A dongle that hung up while it was started is as good as none.
    const auto lost = [&dongle] {
        if (!dongle.Lost()) return false;
        std::fprintf(stderr, "%s\n%s\n", hci::kNoDongleMessage, dongle.LostReason().c_str());
        return true;
    };
    if (lost()) return ExitNoDongle;
    if (!dongle.DongleAddressText().empty()) std::printf("Dongle: %s\n", dongle.DongleAddressText().c_str());

    std::string report;
    const auto append = [&report](const std::string& text) {
        report += text;
        Print(text);
    };
    hci::CLoopRunner runner(front, dongle, append);
    int code = 0;
    if (request.kind == LoopTestKind::DongleTestMode) code = runner.RunDongleTestMode() ? 0 : 40 + fdp::FdpFailed;
    else if (request.kind == LoopTestKind::TargetTestMode) code = runner.RunTargetTestMode() ? 0 : 40 + fdp::FdpFailed;
    else {
        if (request.kind == LoopTestKind::Target) runner.RunTargetLoopTest(request.settings);
        else runner.RunDongleLoopTest(request.settings);
        // The run completed when it printed its lost rate; the rate itself is not judged.
        code = report.find("%!") != std::string::npos ? 0 : ExitLoopStopped;
    }
    // The report has said why already.
    return dongle.Lost() && request.kind != LoopTestKind::TargetTestMode ? ExitNoDongle : code;
}

int RunLoopTest(CliRun& run) {
    std::string error;
    const auto request = ParseLoopTest(run.options, error);
    if (!request) {
        std::fprintf(stderr, "kelvane-cli: %s\n", error.c_str());
        return ExitUsage;
    }
    // The dongle's own test mode needs no target.
    if (request->kind == LoopTestKind::DongleTestMode) return RunLoopTest(nullptr, *request, run.options.dongle);
    CCliLink link(run);
    if (const auto failed = link.Connect(run.options.folder.empty() ? ProgramFolder() : run.options.folder, 0))
        return *failed;
    return RunLoopTest(&link.Link(), *request, run.options.dongle);
}

}  // namespace cli
