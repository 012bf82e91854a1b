// The command-line tool's sink of the link's events: prints the wizard's status and
// report texts and lets the main thread wait for a job's end.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fdp/DownloadReport.h"
#include "fdp/RequestFrontEnd.h"
#include "fdp/LinkEvent.h"
#include "fdp/LinkTimeouts.h"
#include "fdp/ReportFilter.h"

namespace cli {

class CCliFrontEnd : public fdp::ILinkEventSink {
public:
    // link: the request front end whose events come here; its texts name the adapter.
    // showProgress: standard output is a terminal and progress is wanted; the transfer's
    // bar and the erase and burn waits' seconds are then drawn in place.
    CCliFrontEnd(bool showProgress, const fdp::CRequestFrontEnd& link) : m_showProgress(showProgress), m_link(link) {}
    ~CCliFrontEnd();
    CCliFrontEnd(const CCliFrontEnd&) = delete;
    CCliFrontEnd& operator=(const CCliFrontEnd&) = delete;
    // The link's waits, whose flash wait bounds an erase or burn line. Before the link starts.
    void SetTimeouts(const fdp::LinkTimeouts& timeouts) { m_timeouts = timeouts; }

    // Someone else who hears every event first and shows them its own way (a production
    // line's seat): the front then prints nothing of them. Before the link starts.
    void SetWatcher(std::function<void(const fdp::LinkEvent&)> watcher) { m_watcher = std::move(watcher); }

    void OnLinkEvent(const fdp::LinkEvent& event) override;
    // The version read back after the last burn; nothing when it could not be read.
    std::optional<fdp::FirmwareVersion> BurntVersion();

    // How a listen ended: its connection result, or the targets it heard when several
    // answered (no login was sent); neither on time-out or interrupt.
    struct ConnectEnd {
        std::optional<unsigned> result;
        std::vector<fdp::HeardTarget> several;
    };
    ConnectEnd WaitConnect(std::chrono::milliseconds timeout);
    // Waits for the end of a job of this code and returns its result as the engine got
    // it, also a target status that has no message; nothing on time-out.
    std::optional<unsigned> WaitJobEnd(std::uint8_t job, std::chrono::milliseconds timeout);
    // Waits until a staged download has reported its last stage; false on time-out.
    bool WaitDownloadEnd(std::chrono::milliseconds timeout);
    void BeginDownload();
    // The download's outcome: 0 when burnt, else the failing step's result.
    unsigned DownloadResult();
    // The stage of the last report shown; nothing before the first.
    std::optional<fdp::Stage> LastStage();
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
    void OnReport(const fdp::StageReport& report);
    void OnJobEnded(const fdp::JobEnded& end);
    void PrintLine(const std::string& line);
    void ShowProgress(int bar);
    // An erase or burn waits on the target: its line stays open and shows the seconds
    // since against the wait's bound, redrawn each second by the ticker until the step
    // ends or anything else is printed. Under m_mutex.
    void BeginWaitLine(const std::string& line, std::uint32_t boundMs);
    void EndWaitLine();
    void DrawWaitLine();
    void TickerMain();

    bool m_showProgress;
    std::function<void(const fdp::LinkEvent&)> m_watcher;
    const fdp::CRequestFrontEnd& m_link;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<std::pair<std::uint8_t, unsigned>> m_jobEnds;
    fdp::CReportFilter m_filter;
    fdp::CDownloadReport m_report;
    bool m_downloadEnded = false;
    bool m_severalHeard = false;   // a listen ended with several targets, not yet taken
    unsigned m_downloadResult = 0;
    std::optional<fdp::Stage> m_lastStage;
    bool m_interrupted = false;
    bool m_progressShown = false;
    std::optional<fdp::FirmwareVersion> m_burntVersion;

    fdp::LinkTimeouts m_timeouts;
    std::string m_waitLine;   // the open wait line; empty when none
    std::chrono::steady_clock::time_point m_waitSince;
    long m_waitShownSeconds = 0;
    std::uint32_t m_waitBoundSeconds = 0;
    std::condition_variable m_tick;   // the wait line began or ended, or the ticker stops
    bool m_stopTicker = false;
    std::thread m_ticker;             // started with the first wait line
};

}  // namespace cli
