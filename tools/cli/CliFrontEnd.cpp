#include "tools/cli/CliFrontEnd.h"
#include "tools/cli/Say.h"

#include <cstdio>
#include <utility>

#include "fdp/FormatBdAddr.h"
#include "resources/strings/StringIds.h"
#include "resources/strings/StringTable.h"

namespace cli {

CCliFrontEnd::~CCliFrontEnd() {
    {
        std::lock_guard lock(m_mutex);
        m_stopTicker = true;
    }
    m_tick.notify_all();
    if (m_ticker.joinable()) m_ticker.join();
}

void CCliFrontEnd::OnLinkEvent(const fdp::LinkEvent& event) {
    if (m_watcher) m_watcher(event);
    if (const auto* report = std::get_if<fdp::StageReport>(&event)) {
        OnReport(*report);
    } else if (const auto* end = std::get_if<fdp::JobEnded>(&event)) {
        OnJobEnded(*end);
    } else if (const auto* moved = std::get_if<fdp::AdapterMoved>(&event)) {
        std::lock_guard lock(m_mutex);
        PrintLine(res::Text("Target announced on ") + moved->adapter);
    } else if (const auto* other = std::get_if<fdp::OtherTargetHeard>(&event)) {
        // Said at once, on standard error: another target answers too.
        std::lock_guard lock(m_mutex);
        EndWaitLine();
        if (m_progressShown) std::fputc('\n', stderr);
        m_progressShown = false;
        if (!m_watcher)
            Complain("%s\n",
                     res::FormatString(res::IDS_ALSO_HEARD, {FormatBdAddr(other->address), other->adapter}).c_str());
    } else if (std::holds_alternative<fdp::SeveralTargetsHeard>(event)) {
        {
            std::lock_guard lock(m_mutex);
            m_severalHeard = true;
        }
        m_cv.notify_all();
    } else if (const auto* after = std::get_if<fdp::VersionAfterBurn>(&event)) {
        {
            std::lock_guard lock(m_mutex);
            m_burntVersion = after->version;
            m_downloadEnded = true;
            m_downloadResult = 0;
        }
        m_cv.notify_all();
    } else if (const auto* warning = std::get_if<fdp::LinkWarning>(&event)) {
        if (!m_watcher) Complain("%s\n", warning->text.c_str());
    }
}

void CCliFrontEnd::OnReport(const fdp::StageReport& report) {
    std::lock_guard lock(m_mutex);
    if (m_interrupted) return;   // the tool has said how it stopped; the link's last words add nothing
    if (!m_filter.Pass(report)) return;
    m_lastStage = report.stage;
    const fdp::Stage stage = report.stage;
    if (stage.IsFlashStep() && stage.phase == fdp::Stage::Ended) EndWaitLine();
    if (const auto line = m_report.OnReport(report)) {
        if (m_showProgress && report.result == 0 && stage.IsFlashStep() && stage.phase == fdp::Stage::Begun)
            BeginWaitLine(*line, m_timeouts.Flash(stage.Kind()));
        else
            PrintLine(*line);
    }
    if (report.stage.IsTransferring()) ShowProgress(m_report.Bar());
    // A burnt firmware area is read back first: the download ends with its version.
    if (report.stage.EndsDownload(report.result) && !report.stage.ReadsVersionAfter(report.result)) {
        m_downloadEnded = true;
        m_downloadResult = report.result;
        m_cv.notify_all();
    }
}

void CCliFrontEnd::OnJobEnded(const fdp::JobEnded& end) {
    {
        std::lock_guard lock(m_mutex);
        // A download's reports and the erase operation's line say it with their stage.
        if (end.job != fdp::JobDownloadBurn && end.job != fdp::JobErase)
            if (const auto lost = m_link.AdapterLostText(std::nullopt, end.result)) PrintLine(*lost);
        m_jobEnds.emplace_back(end.job, end.result);
    }
    m_cv.notify_all();
}

CCliFrontEnd::ConnectEnd CCliFrontEnd::WaitConnect(std::chrono::milliseconds timeout) {
    ConnectEnd end;
    bool several = false;
    {
        std::unique_lock lock(m_mutex);
        m_cv.wait_for(lock, timeout, [&] {
            if (m_interrupted) return true;
            several = std::exchange(m_severalHeard, false);
            if (several) return true;
            const auto it = std::find_if(m_jobEnds.begin(), m_jobEnds.end(),
                                         [](const auto& e) { return e.first == fdp::JobListen; });
            if (it == m_jobEnds.end()) return false;
            end.result = it->second;
            m_jobEnds.erase(it);
            return true;
        });
    }
    if (several) end.several = m_link.SeveralTargets();
    return end;
}

std::optional<fdp::FirmwareVersion> CCliFrontEnd::BurntVersion() {
    std::lock_guard lock(m_mutex);
    return m_burntVersion;
}

std::optional<unsigned> CCliFrontEnd::WaitJobEnd(std::uint8_t job, std::chrono::milliseconds timeout) {
    const auto end = Take(m_jobEnds, [job](const auto& e) { return e.first == job; }, timeout);
    return end ? std::optional<unsigned>(end->second) : std::nullopt;
}

void CCliFrontEnd::BeginDownload() {
    std::lock_guard lock(m_mutex);
    m_report.Begin();
    m_filter.Forget();
    m_downloadEnded = false;
    m_burntVersion.reset();
}

void CCliFrontEnd::Interrupt() {
    {
        std::lock_guard lock(m_mutex);
        EndWaitLine();   // the tool's own words follow on a line of their own
        m_interrupted = true;
    }
    m_cv.notify_all();
}

bool CCliFrontEnd::Interrupted() {
    std::lock_guard lock(m_mutex);
    return m_interrupted;
}

std::optional<fdp::Stage> CCliFrontEnd::LastStage() {
    std::lock_guard lock(m_mutex);
    return m_lastStage;
}

unsigned CCliFrontEnd::DownloadResult() {
    std::lock_guard lock(m_mutex);
    return m_downloadResult;
}

bool CCliFrontEnd::WaitDownloadEnd(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    m_cv.wait_for(lock, timeout, [this] { return m_downloadEnded || m_interrupted; });
    return m_downloadEnded;
}

void CCliFrontEnd::PrintLine(const std::string& line) {
    if (m_watcher) return;   // the watcher shows the events its own way
    EndWaitLine();
    if (m_progressShown) std::fputc('\n', stderr);
    m_progressShown = false;
    Say("%s\n", line.c_str());
    std::fflush(stdout);
}

void CCliFrontEnd::ShowProgress(int bar) {
    if (!m_showProgress) return;
    EndWaitLine();
    constexpr int kWidth = 40;
    const int filled = bar * kWidth / 1000;
    Complain("\r[%-*s] %5.1f%%", kWidth, std::string(static_cast<std::size_t>(filled), '#').c_str(),
                 bar / 10.0);
    m_progressShown = true;
}

void CCliFrontEnd::BeginWaitLine(const std::string& line, std::uint32_t boundMs) {
    EndWaitLine();
    if (m_progressShown) std::fputc('\n', stderr);
    m_progressShown = false;
    m_waitLine = line;
    m_waitSince = std::chrono::steady_clock::now();
    m_waitShownSeconds = 0;
    m_waitBoundSeconds = (boundMs + 999) / 1000;
    DrawWaitLine();
    if (!m_ticker.joinable()) m_ticker = std::thread([this] { TickerMain(); });
    m_tick.notify_all();
}

void CCliFrontEnd::EndWaitLine() {
    if (m_waitLine.empty()) return;
    m_waitLine.clear();
    std::fputc('\n', stdout);
    std::fflush(stdout);
    m_tick.notify_all();
}

void CCliFrontEnd::DrawWaitLine() {
    Say("\r%s %ld s (at most %u s)", m_waitLine.c_str(), m_waitShownSeconds,
                static_cast<unsigned>(m_waitBoundSeconds));
    std::fflush(stdout);
}

// Sleeps until the next whole second of the open wait line, or until there is one.
void CCliFrontEnd::TickerMain() {
    std::unique_lock lock(m_mutex);
    while (!m_stopTicker) {
        if (m_waitLine.empty()) {
            m_tick.wait(lock, [this] { return m_stopTicker || !m_waitLine.empty(); });
            continue;
        }
        const auto since = m_waitSince;
        const auto next = since + std::chrono::seconds(m_waitShownSeconds + 1);
        m_tick.wait_until(lock, next, [&] { return m_stopTicker || m_waitLine.empty() || m_waitSince != since; });
        if (m_stopTicker || m_waitLine.empty() || m_waitSince != since) continue;
        m_waitShownSeconds =
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - since).count();
        DrawWaitLine();
    }
}

}  // namespace cli
