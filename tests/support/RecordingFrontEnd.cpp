#include "tests/support/RecordingFrontEnd.h"

namespace fdp::test {

int RecordingFrontEnd::Notify(std::uint32_t message, std::uint32_t wParam, std::int32_t lParam) {
    {
        std::lock_guard lock(m_mutex);
        m_messages.push_back({message, wParam, lParam});
    }
    m_cv.notify_all();
    return 1;
}

void RecordingFrontEnd::Report(unsigned stage, unsigned result, std::uint32_t position, std::uint32_t total) {
    CFdpGui::Report(stage, result, position, total);
    {
        std::lock_guard lock(m_mutex);
        m_reports.push_back({stage, result, position, total});
    }
    m_cv.notify_all();
    if (onReport) onReport({stage, result, position, total});
}

void RecordingFrontEnd::ShowMessageBox(const std::string& text) {
    std::lock_guard lock(m_mutex);
    m_boxes.push_back(text);
}

std::optional<NotifyCall> RecordingFrontEnd::WaitResult(std::uint32_t message, std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    std::optional<NotifyCall> found;
    m_cv.wait_for(lock, timeout, [&] {
        for (std::size_t i = m_taken; i < m_messages.size(); ++i) {
            const NotifyCall& call = m_messages[i];
            const bool progress = call.message == WM_FDP_DOWNLOAD && call.wParam == NotifyProgress;
            if (call.message == message && !progress) {
                found = call;
                m_taken = i + 1;
                return true;
            }
        }
        return false;
    });
    return found;
}

bool RecordingFrontEnd::WaitStage(unsigned stage, std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, timeout, [&] {
        for (const ReportCall& r : m_reports)
            if (r.stage == stage) return true;
        return false;
    });
}

std::vector<NotifyCall> RecordingFrontEnd::Messages() {
    std::lock_guard lock(m_mutex);
    return m_messages;
}

std::vector<ReportCall> RecordingFrontEnd::Reports() {
    std::lock_guard lock(m_mutex);
    return m_reports;
}

std::vector<std::string> RecordingFrontEnd::MessageBoxes() {
    std::lock_guard lock(m_mutex);
    return m_boxes;
}

}  // namespace fdp::test

namespace fdp::test {

void RecordingFrontEnd::OnBurntVersion(std::uint8_t kind, std::optional<FirmwareVersion> version) {
    CFdpGui::OnBurntVersion(kind, version);
    {
        std::lock_guard lock(m_mutex);
        m_burntVersions.emplace_back(kind, version);
    }
    m_cv.notify_all();
}

std::vector<std::pair<std::uint8_t, std::optional<FirmwareVersion>>> RecordingFrontEnd::BurntVersions() {
    std::lock_guard lock(m_mutex);
    return m_burntVersions;
}

bool RecordingFrontEnd::WaitBurntVersion(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, timeout, [&] { return !m_burntVersions.empty(); });
}

}  // namespace fdp::test
