#include "tools/cli/TargetSeat.h"

#include <algorithm>

#include "fdp/FormatBdAddr.h"
#include "fdp/LinkTexts.h"
#include "tools/cli/CliFrontEnd.h"
#include "tools/cli/CliRun.h"
#include "tools/cli/ExitCodes.h"
#include "tools/cli/LineTexts.h"
#include "tools/cli/OperationTable.h"
#include "tools/cli/Say.h"
#include "tools/cli/TargetWords.h"

using Clock = std::chrono::steady_clock;

namespace cli {

namespace {

// The progress shown for a stage, as the wizard's download page moves its bar: the
// transfer to 80 %, the erase to 96 %, the burn to the end.
int Percent(const fdp::StageReport& report) {
    const fdp::Stage stage = report.stage;
    if (stage.step == fdp::Stage::Transfer && report.total > 0)
        return static_cast<int>(std::min<std::uint64_t>(report.position, report.total) * 80 / report.total);
    if (stage.IsFlashStep()) return stage.IsBurn() ? (stage.phase == fdp::Stage::Ended && report.result == 0 ? 100 : 96) : 80;
    return -1;
}

}  // namespace

CTargetSeat::CTargetSeat(ILineHost& line, const CliOptions& options, const CLineScout::Heard& heard)
    : m_line(line), m_options(options), m_address(heard.address) {
    for (std::size_t i = 1; i < m_options.operation.size(); ++i)
        m_options.operation[i] = ExpandTargetWord(m_options.operation[i], heard.address);
    m_options.target = heard.address;
    m_options.progress = false;
    m_row.target = FormatBdAddr(heard.address);
    m_row.adapter = heard.adapter;
}

fdp::CLinkDispatcher& CTargetSeat::Dispatcher() { return m_line.Dispatcher(); }
fdp::CLinkFiles& CTargetSeat::Files() { return m_line.Files(); }

void CTargetSeat::OnEvent(const fdp::LinkEvent& event) {
    std::lock_guard lock(m_lock);
    if (const auto* report = std::get_if<fdp::StageReport>(&event)) {
        m_row.stage = CRunReport::StageWord(report->stage);
        if (const int percent = Percent(*report); percent >= 0) m_row.percent = percent;
        if (!report->text.empty()) m_row.result = report->text;
    } else if (const auto* lost = std::get_if<fdp::AdapterLost>(&event)) {
        m_row.result = fdp::AdapterLostText(lost->adapter, std::nullopt);
    }
}

void CTargetSeat::Start() {
    Join();
    {
        std::lock_guard lock(m_lock);
        m_row.state = LineRow::State::Running;
        m_row.stage = "login";
        m_row.percent = -1;
        m_row.result.clear();
        m_alreadyHas.reset();
        m_started = Clock::now();
    }
    m_report = CRunReport();
    m_log.clear();
    m_ended = false;
    m_recheck = false;
    ++m_rounds;
    m_thread = std::thread([this] { Run(); });
}

void CTargetSeat::Run() {
    {
        CSayInto into(m_log);
        CliRun run{m_options, m_report, nullptr, true, std::nullopt};
        run.seat = this;
        m_code = RunOperation(run);
    }
    m_ended = true;
    m_line.SeatEnded();
}

int CTargetSeat::Finish(const std::optional<std::string>& fileVersion) {
    Join();
    std::lock_guard lock(m_lock);
    m_row.elapsed = Clock::now() - m_started;
    // The run's own words: the report's, else the last thing it said (a refusal, a file
    // that cannot be written).
    std::string said = m_report.Result();
    if (said.empty()) {
        std::string log = m_log;
        while (!log.empty() && log.back() == '\n') log.pop_back();
        said = log.substr(log.rfind('\n') == std::string::npos ? 0 : log.rfind('\n') + 1);
    }
    if (m_code == ExitOk && m_alreadyHas) {
        m_row.state = LineRow::State::Skipped;
        m_row.result = AlreadyHasText(*m_alreadyHas);
    } else {
        m_row.state = m_code == ExitOk ? LineRow::State::Done : LineRow::State::Failed;
        if (!said.empty()) m_row.result = said;
        if (m_code == ExitOk && m_row.percent >= 0) m_row.percent = 100;
    }
    m_recheck = m_code == ExitOk && !m_alreadyHas && fileVersion && m_report.VersionAfter() != fileVersion;
    return m_code;
}

}  // namespace cli
