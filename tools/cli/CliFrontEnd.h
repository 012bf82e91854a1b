// The command-line front end: prints the wizard's status and report texts and lets the
// main thread wait for a job's result message.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

#include "fdp/DownloadReport.h"
#include "fdp/HeadlessFrontEnd.h"
#include "fdp/ReportFilter.h"

namespace cli {

struct Message {
    std::uint32_t message;
    std::uint32_t wParam;
    std::int32_t lParam;
};

class CCliFrontEnd : public fdp::CHeadlessFrontEnd {
public:
    explicit CCliFrontEnd(bool showProgress) : m_showProgress(showProgress) {}

    int Notify(std::uint32_t message, std::uint32_t wParam, std::int32_t lParam) override;
    void Report(unsigned stage, unsigned result, std::uint32_t position, std::uint32_t total) override;
    void OnTraceLength(std::uint32_t total) override;
    void OnJobEnd(std::uint8_t job, unsigned result) override;
    void OnAdapterMoved(int index) override;
    // Says at once, on standard error, that another target answers too.
    void OnOtherTarget(const fdp::MacAddress& address) override;
    void OnSeveralTargets(const std::vector<fdp::HeardTarget>& targets) override;
    void OnBurntVersion(std::uint8_t kind, std::optional<fdp::FirmwareVersion> version) override;
    // The version read back after the last burn; nothing when it could not be read.
    std::optional<fdp::FirmwareVersion> BurntVersion();

    // How a listen ended: its connection result, or the targets it heard when several
    // answered (no login was sent); neither on time-out or interrupt.
    struct ConnectEnd {
        std::optional<unsigned> result;
        std::vector<fdp::HeardTarget> several;
    };
    ConnectEnd WaitConnect(std::chrono::milliseconds timeout);
    // Waits for the result (not a progress message) of the given message.
    std::optional<Message> WaitResult(std::uint32_t message, std::chrono::milliseconds timeout);
    // Waits for the end of a job of this code and returns its result as the engine got
    // it, also a target status that has no message; nothing on time-out.
    std::optional<unsigned> WaitJobEnd(std::uint8_t job, std::chrono::milliseconds timeout);
    // Waits until a staged download has reported its last stage; false on time-out.
    bool WaitDownloadEnd(std::chrono::milliseconds timeout);
    std::uint32_t TraceTotal();
    void BeginDownload();
    // The download's outcome: 0 when burnt, else the failing step's result.
    unsigned DownloadResult();
    // The stage code (10 x step + phase) of the last report shown.
    unsigned LastStage();
    // Ends every wait at once, now and later (any thread): the user interrupted the tool.
    void Interrupt();
    bool Interrupted();

private:
    // Takes the first queued item that matches, waiting up to the time given.
    template <typename Item, typename Match>
    std::optional<Item> Take(std::deque<Item>& queue, Match match, std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        std::optional<Item> found;
        m_cv.wait_for(lock, timeout, [&] {
            if (m_interrupted) return true;
            const auto it = std::find_if(queue.begin(), queue.end(), match);
            if (it == queue.end()) return false;
            found = *it;
            queue.erase(it);
            return true;
        });
        return found;
    }
    void PrintLine(const std::string& line);
    void ShowProgress(int bar);

    bool m_showProgress;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<Message> m_results;
    std::deque<std::pair<std::uint8_t, unsigned>> m_jobEnds;
    fdp::CReportFilter m_filter;
    fdp::CDownloadReport m_report;
    bool m_downloadEnded = false;
    bool m_severalHeard = false;   // a listen ended with several targets, not yet taken
    unsigned m_downloadResult = 0;
    unsigned m_lastStage = 0;
    bool m_interrupted = false;
    std::uint32_t m_traceTotal = 0;
    bool m_progressShown = false;
    std::optional<fdp::FirmwareVersion> m_burntVersion;
};

}  // namespace cli
