#include "tools/cli/ProductionLine.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "fdp/FirmwareFile.h"
#include "fdp/FormatBdAddr.h"
#include "fdp/JsonLine.h"
#include "fdp/LinkDispatcher.h"
#include "fdp/LinkFiles.h"
#include "fdp/LinkTexts.h"
#include "fdp/PacketSocketDriver.h"
#include "resources/strings/StringIds.h"
#include "resources/strings/StringTable.h"
#include "tools/cli/CliFiles.h"
#include "tools/cli/CliFrontEnd.h"
#include "tools/cli/CliRun.h"
#include "tools/cli/ExitCodes.h"
#include "tools/cli/FirmwareCheck.h"
#include "tools/cli/Interrupt.h"
#include "tools/cli/LineBoard.h"
#include "tools/cli/LineScout.h"
#include "tools/cli/LineTexts.h"
#include "tools/cli/OperationTable.h"
#include "tools/cli/RunReport.h"
#include "tools/cli/Say.h"
#include "tools/cli/TargetSeat.h"
#include "tools/cli/TargetsCommand.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace cli {

namespace {

// What a target is served again for, at most, in one run: a unit whose burn never
// takes is not burnt for ever.
constexpr unsigned kMostRounds = 3;

bool ServesManyTargets(const std::string& operation) {
    static const char* const kOperations[] = {"download", "set-name-password", "set-network", "set-register",
                                              "version",  "params",            "trace",       "diagnose"};
    return std::find(std::begin(kOperations), std::end(kOperations), operation) != std::end(kOperations);
}

class CProductionLine final : public ILineHost {
public:
    CProductionLine(const CliOptions& options, std::optional<fdp::LinkBrokerHandle> broker, LineOutput output)
        : m_options(options), m_output(output), m_driver(std::move(broker)), m_dispatcher(m_driver), m_scout(m_driver) {}
    ~CProductionLine() {
        CInterrupt::SetHook({});
        m_seats.clear();
        m_dispatcher.Detach(&m_scout);
        m_dispatcher.Stop();
    }

    int Run();

    fdp::CLinkDispatcher& Dispatcher() override { return m_dispatcher; }
    fdp::CLinkFiles& Files() override { return m_files; }
    // A run ended: the line looks at once.
    void SeatEnded() override { m_scout.Wake(); }

private:
    bool OpenAdapter();
    void Hear(const CLineScout::Heard& heard);
    void StartWaiting();
    void ReapEnded();
    void Interrupt();
    std::vector<LineRow> Rows() const;
    void Human(const std::string& line) {
        if (m_output.humanFd >= 0 && !m_output.table) WriteAll(m_output.humanFd, line + "\n");
    }
    int Finish();

    const CliOptions& m_options;
    LineOutput m_output;
    fdp::CPacketSocketDriver m_driver;
    fdp::CLinkDispatcher m_dispatcher;
    CLineScout m_scout;
    fdp::CLinkFiles m_files;
    CLineBoard m_board;
    std::optional<std::string> m_fileVersion;   // a firmware download's file version
    std::atomic<bool> m_interrupted{false};
    mutable std::mutex m_seatsLock;   // the list itself: Interrupt walks it from the signal's thread
    std::vector<std::unique_ptr<CTargetSeat>> m_seats;
};

bool CProductionLine::OpenAdapter() {
    m_dispatcher.Park();
    const int count = m_driver.EnumerateAdapters();
    int opened = -1;
    for (int index = 0; index < count && opened < 0; ++index)
        if (m_driver.OpenAdapter(static_cast<std::uint16_t>(index)) == fdp::OpenOk) opened = index;
    // Until the first target is heard, every candidate adapter is listened on.
    if (opened >= 0) {
        m_driver.SetScouting(true);
        m_scout.SetOpened();   // the receiver reads from the Unpark on
    }
    m_dispatcher.Unpark();
    return opened >= 0;
}

void CProductionLine::Hear(const CLineScout::Heard& heard) {
    std::lock_guard lock(m_seatsLock);
    const auto it = std::find_if(m_seats.begin(), m_seats.end(),
                                 [&](const auto& seat) { return seat->Address() == heard.address; });
    if (it == m_seats.end()) {
        m_seats.push_back(std::make_unique<CTargetSeat>(*this, m_options, heard));
        return;
    }
    CTargetSeat& seat = **it;
    // Back after its burn without the file's version (or none read): once more, said so.
    if (!m_options.watch || !seat.Ended() || !seat.Recheck() || seat.Rounds() >= kMostRounds) return;
    const auto& after = seat.Report().VersionAfter();
    Human(ServedAgainText(FormatBdAddr(heard.address), after.value_or("?"), m_fileVersion.value_or("?")));
    seat.Requeue();
}

void CProductionLine::StartWaiting() {
    std::lock_guard lock(m_seatsLock);
    unsigned running = 0;
    for (const auto& seat : m_seats) running += seat->State() == LineRow::State::Running;
    for (const auto& seat : m_seats) {
        if (m_options.maxParallel != 0 && running >= m_options.maxParallel) return;
        if (seat->State() != LineRow::State::Waiting) continue;
        const LineRow row = seat->Row();
        Human(row.target + "  " + row.adapter + "  " + StartedText(m_options.operation[0]));
        seat->Start();
        ++running;
    }
}

void CProductionLine::ReapEnded() {
    std::lock_guard lock(m_seatsLock);
    for (const auto& seat : m_seats) {
        if (seat->State() != LineRow::State::Running || !seat->Ended()) continue;
        const int code = seat->Finish(m_fileVersion);
        const LineRow row = seat->Row();
        Human(row.state == LineRow::State::Skipped ? row.target + "  " + row.result : seat->Report().Summary(code));
        if (m_options.json && m_options.jsonFd >= 0) WriteAll(m_options.jsonFd, seat->Report().Json(code) + "\n");
    }
}

void CProductionLine::Interrupt() {
    m_interrupted = true;
    {
        std::lock_guard lock(m_seatsLock);
        for (const auto& seat : m_seats) seat->Interrupt();
    }
    m_scout.Wake();
}

std::vector<LineRow> CProductionLine::Rows() const {
    std::lock_guard lock(m_seatsLock);
    std::vector<LineRow> rows;
    for (const auto& seat : m_seats) rows.push_back(seat->Row());
    return rows;
}

int CProductionLine::Run() {
    const std::string folder = m_options.folder.empty() ? ProgramFolder() : m_options.folder;
    if (!m_files.Open(folder)) {
        Complain("Cannot create trace.txt and Target_Bt_Addr.txt in %s\n", folder.c_str());
        return ExitFiles;
    }
    if (m_options.operation[0] == "download" && m_options.operation[1] != "param") {
        // The file's own checks once, before any target is served; the version against
        // each target's in its run.
        const std::string& file = m_options.operation[2];
        const auto kind = m_options.operation[1] == "boot" ? fdp::FirmwareBoot : fdp::FirmwareProgram;
        std::uint64_t size = 0;
        if (const std::string problem = InputFileProblem(file, size); !problem.empty()) {
            Complain("%s\nCannot read %s: %s\n", FileCheckMessage(fdp::FileCheckCannotOpen).c_str(), file.c_str(), problem.c_str());
            return ExitFiles;
        }
        if (const auto refused = RefuseFirmwareFile(kind, file, m_options.force)) return *refused;
        fdp::FirmwareVersion version;
        if (fdp::ReadFileVersion(kind, file, 0, version) == fdp::FileCheckOk) m_fileVersion = version.Text();
    }
    if (!m_options.interface.empty()) m_driver.SetInterfaceFilter(m_options.interface);
    m_dispatcher.Start();
    m_dispatcher.Attach(&m_scout);
    if (!OpenAdapter()) {
        std::string message = res::LoadString(res::IDS_OPEN_ADAPTER_FAILED);
        if (const std::string reason = m_driver.LastError(); !reason.empty()) message += "\n" + reason;
        Complain("%s\n", message.c_str());
        return ExitNoAdapter;
    }
    CInterrupt::SetHook([this] { Interrupt(); });

    const auto listenEnd = Clock::now() + std::chrono::seconds(m_options.seconds);
    const unsigned columns = m_output.table ? TerminalColumns(m_output.humanFd) : 80;
    bool started = false, pinned = false;
    std::optional<std::string> lost;
    while (!m_interrupted) {
        const auto now = Clock::now();
        auto until = now + (m_output.table ? 250ms : 1s);
        if (!started) until = std::min(until, listenEnd);
        const auto heard = m_scout.Take(until);
        if (m_interrupted) break;
        // The first target heard fixes the line's adapter: a session that listens again
        // must not move it under the others.
        if (!heard.empty() && !pinned) {
            m_driver.PinAdapter();
            pinned = true;
        }
        if (!lost) {
            for (const auto& target : heard) Hear(target);
        }
        if (const auto gone = m_scout.TakeLost(); gone && !lost) {
            lost = gone;
            Human(fdp::AdapterLostText(*lost, std::nullopt));
        }
        started = started || Clock::now() >= listenEnd;
        ReapEnded();
        if (started && !lost) StartWaiting();
        if (m_output.table && m_output.humanFd >= 0) m_board.Draw(m_output.humanFd, Rows(), columns);
        const LineCounts counts = CLineBoard::Count(Rows());
        if (started && counts.running == 0 && (lost || (!m_options.watch && counts.waiting == 0))) break;
    }
    if (m_interrupted) {
        // Every running target says what it was left doing, then the line ends.
        {
            std::lock_guard lock(m_seatsLock);
            for (const auto& seat : m_seats) seat->Join();
        }
        ReapEnded();
    }
    if (m_output.table && m_output.humanFd >= 0) m_board.Draw(m_output.humanFd, Rows(), columns);
    return Finish();
}

int CProductionLine::Finish() {
    const auto rows = Rows();
    const LineCounts counts = CLineBoard::Count(rows);
    int code = counts.failed > 0 ? ExitSomeTargetsFailed : ExitOk;
    if (m_interrupted) code = 128 + CInterrupt::Signal();
    else if (rows.empty()) code = ExitNoTargetHeard;
    if (rows.empty() && !m_interrupted)
        Complain("%s\n", res::FormatString(res::IDS_NO_TARGET_HEARD, {std::to_string(m_options.seconds)}).c_str());
    else Human(CLineBoard::SummaryLine(rows));
    if (m_options.json && m_options.jsonFd >= 0) {
        nlohmann::ordered_json summary;
        summary["summary"] = {{"done", counts.done}, {"failed", counts.failed}, {"running", counts.running}, {"waiting", counts.waiting}};
        nlohmann::ordered_json failed = nlohmann::ordered_json::array();
        for (const LineRow& row : rows)
            if (row.state == LineRow::State::Failed) failed.push_back(row.target);
        summary["failedTargets"] = failed;
        summary["exitCode"] = code;
        WriteAll(m_options.jsonFd, fdp::JsonLine(summary) + "\n");
    }
    return code;
}

}  // namespace

std::optional<std::string> LineUsageProblem(const CliOptions& options) {
    if (options.operation.empty() || !ServesManyTargets(options.operation[0]))
        return "--all-targets serves download, set-name-password, set-network, set-register, version, params, trace "
               "and diagnose";
    if (options.targetText) return "--all-targets serves every target: it cannot be used with --target";
    if (options.repeat) return "--all-targets cannot be used with --repeat (--watch keeps serving new targets)";
    return std::nullopt;
}

int RunProductionLine(const CliOptions& options, std::optional<fdp::LinkBrokerHandle> broker, LineOutput output) {
    CProductionLine line(options, std::move(broker), output);
    return line.Run();
}

}  // namespace cli
