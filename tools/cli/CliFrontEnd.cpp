#include "tools/cli/CliFrontEnd.h"

#include <cstdio>
#include <utility>

#include "fdp/FormatBdAddr.h"
#include "resources/strings/StringIds.h"
#include "resources/strings/StringTable.h"

namespace cli {

int CCliFrontEnd::Notify(std::uint32_t message, std::uint32_t wParam, std::int32_t lParam) {
    if (message == fdp::WM_FDP_DOWNLOAD && wParam == fdp::NotifyProgress) {
        Pace();   // --pace-ms: the worker waits before its next block
        return 1;   // the reports carry the position
    }
    {
        std::lock_guard lock(m_mutex);
        m_results.push_back({message, wParam, lParam});
    }
    m_cv.notify_all();
    return 1;
}

void CCliFrontEnd::Report(unsigned stage, unsigned result, std::uint32_t position, std::uint32_t total) {
    CFdpGui::Report(stage, result, position, total);
    std::lock_guard lock(m_mutex);
    if (m_interrupted) return;   // the tool has said how it stopped; the link's last words add nothing
    std::int32_t lParam = 0;
    if (!m_filter.Pass(stage, result, position, total, lParam)) return;
    m_lastStage = stage;
    if (const auto line = m_report.OnReport(stage, lParam, statusText())) PrintLine(*line);
    if (stage == fdp::kStageTransferring) ShowProgress(m_report.Bar());
    // A burnt firmware area is read back first: the download ends with its version.
    if (fdp::IsLastDownloadStage(stage, result) && !fdp::ReadsVersionAfter(stage, result)) {
        m_downloadEnded = true;
        m_downloadResult = result;
        m_cv.notify_all();
    }
}

void CCliFrontEnd::OnJobEnd(std::uint8_t job, unsigned result) {
    {
        std::lock_guard lock(m_mutex);
        // A download's reports and the erase operation's line say it with their stage.
        if (job != fdp::JobDownloadBurn && job != fdp::JobErase)
            if (const auto lost = AdapterLostText(0, result)) PrintLine(*lost);
        m_jobEnds.emplace_back(job, result);
    }
    m_cv.notify_all();
}

void CCliFrontEnd::OnAdapterMoved(int index) {
    CFdpGui::OnAdapterMoved(index);
    std::lock_guard lock(m_mutex);
    PrintLine((res::CurrentLanguage() == res::Language::Chinese ? "目标出现在网卡 " : "Target announced on ") +
              AdapterName());
}

void CCliFrontEnd::OnOtherTarget(const fdp::MacAddress& address) {
    CFdpGui::OnOtherTarget(address);
    std::lock_guard lock(m_mutex);
    if (m_progressShown) std::fputc('\n', stderr);
    m_progressShown = false;
    std::fprintf(stderr, "%s\n", res::FormatString(res::IDS_ALSO_HEARD, {FormatBdAddr(address), AdapterName()}).c_str());
}

void CCliFrontEnd::OnSeveralTargets(const std::vector<fdp::HeardTarget>& targets) {
    CFdpGui::OnSeveralTargets(targets);
    {
        std::lock_guard lock(m_mutex);
        m_severalHeard = true;
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
            const auto it = std::find_if(m_results.begin(), m_results.end(),
                                         [](const Message& m) { return m.message == fdp::WM_FDP_CONNECT; });
            if (it == m_results.end()) return false;
            end.result = it->wParam;
            m_results.erase(it);
            return true;
        });
    }
    if (several) end.several = SeveralTargets();
    return end;
}

void CCliFrontEnd::OnBurntVersion(std::uint8_t kind, std::optional<fdp::FirmwareVersion> version) {
    CFdpGui::OnBurntVersion(kind, version);
    {
        std::lock_guard lock(m_mutex);
        m_burntVersion = version;
        m_downloadEnded = true;
        m_downloadResult = 0;
    }
    m_cv.notify_all();
}

std::optional<fdp::FirmwareVersion> CCliFrontEnd::BurntVersion() {
    std::lock_guard lock(m_mutex);
    return m_burntVersion;
}

std::optional<unsigned> CCliFrontEnd::WaitJobEnd(std::uint8_t job, std::chrono::milliseconds timeout) {
    const auto end = Take(m_jobEnds, [job](const auto& e) { return e.first == job; }, timeout);
    return end ? std::optional<unsigned>(end->second) : std::nullopt;
}

void CCliFrontEnd::OnTraceLength(std::uint32_t total) {
    CFdpGui::OnTraceLength(total);
    std::lock_guard lock(m_mutex);
    m_traceTotal = total;
}

std::uint32_t CCliFrontEnd::TraceTotal() {
    std::lock_guard lock(m_mutex);
    return m_traceTotal;
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
        m_interrupted = true;
    }
    m_cv.notify_all();
}

bool CCliFrontEnd::Interrupted() {
    std::lock_guard lock(m_mutex);
    return m_interrupted;
}

unsigned CCliFrontEnd::LastStage() {
    std::lock_guard lock(m_mutex);
    return m_lastStage;
}

unsigned CCliFrontEnd::DownloadResult() {
    std::lock_guard lock(m_mutex);
    return m_downloadResult;
}

std::optional<Message> CCliFrontEnd::WaitResult(std::uint32_t message, std::chrono::milliseconds timeout) {
    return Take(m_results, [message](const Message& m) { return m.message == message; }, timeout);
}

bool CCliFrontEnd::WaitDownloadEnd(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    m_cv.wait_for(lock, timeout, [this] { return m_downloadEnded || m_interrupted; });
    return m_downloadEnded;
}

void CCliFrontEnd::PrintLine(const std::string& line) {
    if (m_progressShown) std::fputc('\n', stderr);
    m_progressShown = false;
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

void CCliFrontEnd::ShowProgress(int bar) {
    if (!m_showProgress) return;
    constexpr int kWidth = 40;
    const int filled = bar * kWidth / 1000;
    std::fprintf(stderr, "\r[%-*s] %5.1f%%", kWidth, std::string(static_cast<std::size_t>(filled), '#').c_str(),
                 bar / 10.0);
    m_progressShown = true;
}

}  // namespace cli
