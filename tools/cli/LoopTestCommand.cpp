#include "tools/cli/LoopTestCommand.h"

#include <charconv>
#include <cstdio>

#include "fdp/FdpTypes.h"
#include "hci/DongleLink.h"
#include "tools/cli/CliFiles.h"
#include "tools/cli/ExitCodes.h"
#include "tools/cli/LinkSession.h"

namespace cli {

namespace {

bool ParseNumber(const std::string& text, std::uint32_t& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

// The report's lines as a terminal shows them: without the carriage returns.
void Print(const std::string& text) {
    std::string line;
    for (char c : text)
        if (c != '\r') line += c;
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace

std::optional<LoopTestRequest> ParseLoopTest(const std::vector<std::string>& operation, std::string& error) {
    LoopTestRequest request;
    if (operation.size() < 2) {
        error = "looptest needs target, dongle, target-testmode or dongle-testmode";
        return std::nullopt;
    }
    const std::string& what = operation[1];
    if (what == "target") request.kind = LoopTestKind::Target;
    else if (what == "dongle") request.kind = LoopTestKind::Dongle;
    else if (what == "target-testmode") request.kind = LoopTestKind::TargetTestMode;
    else if (what == "dongle-testmode") request.kind = LoopTestKind::DongleTestMode;
    else {
        error = "looptest: unknown test " + what;
        return std::nullopt;
    }
    for (std::size_t i = 2; i < operation.size(); ++i) {
        const std::string& word = operation[i];
        if (word == "--master") request.dongleMaster = true;
        else if (word == "--slave") request.dongleMaster = false;
        else if ((word == "--size" || word == "--speed") && i + 1 < operation.size()) {
            std::uint32_t& into = word == "--size" ? request.settings.dataSize : request.settings.speed;
            if (!ParseNumber(operation[++i], into)) {
                error = word + ": not a number: " + operation[i];
                return std::nullopt;
            }
        } else {
            error = "looptest: unknown argument " + word;
            return std::nullopt;
        }
    }
    if (const char* problem = hci::LoopSettingsProblem(request.settings)) {
        error = problem;
        return std::nullopt;
    }
    return request;
}

int RunLoopTest(fdp::CFdpGui* front, const LoopTestRequest& request, const std::string& device) {
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
    const auto request = ParseLoopTest(run.options.operation, error);
    if (!request) {
        std::fprintf(stderr, "kelvane-cli: %s\n", error.c_str());
        return ExitUsage;
    }
    // The dongle's own test mode needs no target.
    if (request->kind == LoopTestKind::DongleTestMode) return RunLoopTest(nullptr, *request, run.options.dongle);
    CLinkSession link(run);
    if (const auto failed = link.Connect(run.options.folder.empty() ? ProgramFolder() : run.options.folder, 0))
        return *failed;
    return RunLoopTest(&link.Front(), *request, run.options.dongle);
}

}  // namespace cli
