// A front end that records every event the link publishes, for tests to wait on and
// assert against: job ends in the shape of the result messages the wizard's pages know
// (message number, outcome code, detail), stage reports with their numbers.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "fdp/RequestFrontEnd.h"
#include "fdp/LinkEvent.h"
#include "tests/support/JobOutcome.h"

namespace fdp {

// The result messages' numbers, as the tests know them (one a job); the link itself
// tells a job's end as a typed event.
enum : std::uint32_t {
    WM_FDP_CONNECT = 0x8001,
    WM_FDP_DOWNLOAD = 0x8002,
    WM_FDP_ERASE = 0x8003,
    WM_FDP_PARAMS = 0x8006,
    WM_FDP_TRANSFER = 0x8007,
    WM_FDP_TRACE = 0x8008,
};

}  // namespace fdp

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

class RecordingFrontEnd : public CRequestFrontEnd, public ILinkEventSink {
public:
    RecordingFrontEnd() { SetSink(this); }
    void OnLinkEvent(const LinkEvent& event) override;

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
    // Called for every other event, on the thread that published it.
    std::function<void(const LinkEvent&)> onEvent;

private:
    void Record(const NotifyCall& call);
    void Record(const StageReport& report);
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<NotifyCall> m_messages;
    std::vector<ReportCall> m_reports;
    std::vector<std::string> m_boxes;
    std::vector<std::pair<std::uint8_t, std::optional<FirmwareVersion>>> m_burntVersions;
    std::size_t m_taken = 0;   // results before this index were returned already
};

}  // namespace fdp::test
