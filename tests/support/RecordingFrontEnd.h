// A front end that records every Notify and Report call the engine makes, for tests
// to wait on and assert against.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "fdp/HeadlessFrontEnd.h"

namespace fdp::test {

struct NotifyCall {
    std::uint32_t message;
    std::uint32_t wParam;
    std::int32_t lParam;
};

struct ReportCall {
    unsigned stage;
    unsigned result;
    std::uint32_t position;
    std::uint32_t total;
};

class RecordingFrontEnd : public CHeadlessFrontEnd {
public:
    int Notify(std::uint32_t message, std::uint32_t wParam, std::int32_t lParam) override;
    void Report(unsigned stage, unsigned result, std::uint32_t position, std::uint32_t total) override;
    void OnJobEnd(std::uint8_t job, unsigned result) override {
        if (onJobEnd) onJobEnd(job, result);
    }
    void OnBurntVersion(std::uint8_t kind, std::optional<FirmwareVersion> version) override;

    // The versions read back after burns so far: (kind, version or nothing).
    std::vector<std::pair<std::uint8_t, std::optional<FirmwareVersion>>> BurntVersions();
    bool WaitBurntVersion(std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // The first result (wParam != 0 for downloads) of a message not yet taken.
    std::optional<NotifyCall> WaitResult(std::uint32_t message,
                                         std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Waits until a report with this stage was made.
    bool WaitStage(unsigned stage, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    std::vector<NotifyCall> Messages();
    std::vector<ReportCall> Reports();
    std::vector<std::string> MessageBoxes();
    // Called on the worker thread for every report, after it was recorded.
    std::function<void(const ReportCall&)> onReport;
    // Called on the worker thread at every job's end.
    std::function<void(std::uint8_t job, unsigned result)> onJobEnd;

protected:
    void ShowMessageBox(const std::string& text) override;

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<NotifyCall> m_messages;
    std::vector<ReportCall> m_reports;
    std::vector<std::string> m_boxes;
    std::vector<std::pair<std::uint8_t, std::optional<FirmwareVersion>>> m_burntVersions;
    std::size_t m_taken = 0;   // results before this index were returned already
};

}  // namespace fdp::test
