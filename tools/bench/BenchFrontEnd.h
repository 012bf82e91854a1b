// The benchmark's sink of the link's events: keeps the stage reports and job ends with
// their times, so that the benchmark can wait for a download's end and split its phases.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <vector>

#include "fdp/LinkEvent.h"

namespace bench {

using Clock = std::chrono::steady_clock;

class CBenchFrontEnd : public fdp::ILinkEventSink {
public:
    struct Event {
        Clock::time_point when;
        bool report;        // a stage report, else a job's end
        unsigned code;      // the stage's number, or the job
        unsigned result;
    };

    void OnLinkEvent(const fdp::LinkEvent& event) override;

    // The first event that matches, waiting up to the time given.
    template <typename Match>
    std::optional<Event> WaitFor(Match match, std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        std::optional<Event> found;
        m_cv.wait_for(lock, timeout, [&] {
            for (const Event& e : m_events)
                if (match(e)) {
                    found = e;
                    return true;
                }
            return false;
        });
        return found;
    }
    void Clear();
    // When each block was acknowledged (one progress report a block), in order.
    std::vector<Clock::time_point> BlockTimes();

private:
    void Add(const Event& event);
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<Event> m_events;
    std::vector<Clock::time_point> m_blocks;
};

}  // namespace bench
