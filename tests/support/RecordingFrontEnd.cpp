#include "tests/support/RecordingFrontEnd.h"

namespace fdp::test {

namespace {

std::uint32_t MessageOf(std::uint8_t job) {
    switch (job) {
    case JobListen: return WM_FDP_CONNECT;
    case JobDownloadBurn:
    case JobStagedDownload: return WM_FDP_DOWNLOAD;
    case JobErase: return WM_FDP_ERASE;
    case JobGetParams: return WM_FDP_PARAMS;
    case JobTransfer: return WM_FDP_TRANSFER;
    case JobGetTrace: return WM_FDP_TRACE;
    default: return 0;
    }
}

}  // namespace

void RecordingFrontEnd::OnLinkEvent(const LinkEvent& event) {
    if (const auto* report = std::get_if<StageReport>(&event)) {
        Record(*report);
        // A block's progress came as a message of its own too.
        if (report->stage.IsTransferring() && report->result == 0 && report->position > 0)
            Record(NotifyCall{WM_FDP_DOWNLOAD, NotifyProgress, static_cast<std::int32_t>(report->position)});
        if (onReport) onReport({report->stage.Number(), report->result, report->position, report->total});
    } else if (const auto* end = std::get_if<JobEnded>(&event)) {
        if (onJobEnd) onJobEnd(end->job, end->result);
        if (const auto outcome = OutcomeOf(*end)) Record(NotifyCall{MessageOf(end->job), *outcome, end->detail});
    } else if (const auto* after = std::get_if<VersionAfterBurn>(&event)) {
        {
            std::lock_guard lock(m_mutex);
            m_burntVersions.emplace_back(after->kind, after->version);
        }
        m_cv.notify_all();
    } else if (const auto* warning = std::get_if<LinkWarning>(&event)) {
        std::lock_guard lock(m_mutex);
        m_boxes.push_back(warning->text);
    }
    if (onEvent) onEvent(event);
}

void RecordingFrontEnd::Record(const NotifyCall& call) {
    {
        std::lock_guard lock(m_mutex);
        m_messages.push_back(call);
    }
    m_cv.notify_all();
}

void RecordingFrontEnd::Record(const StageReport& report) {
    {
        std::lock_guard lock(m_mutex);
        m_reports.push_back({report.stage.Number(), report.result, report.position, report.total});
    }
    m_cv.notify_all();
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

std::vector<std::pair<std::uint8_t, std::optional<FirmwareVersion>>> RecordingFrontEnd::BurntVersions() {
    std::lock_guard lock(m_mutex);
    return m_burntVersions;
}

bool RecordingFrontEnd::WaitBurntVersion(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, timeout, [&] { return !m_burntVersions.empty(); });
}

}  // namespace fdp::test
