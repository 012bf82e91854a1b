// The benchmark's front end: keeps the stage reports and result messages with their
// times, so that the benchmark can wait for a download's end and split its phases.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <vector>

#include "fdp/HeadlessFrontEnd.h"

namespace bench {

using Clock = std::chrono::steady_clock;

class CBenchFrontEnd : public fdp::CHeadlessFrontEnd {
public:
    struct Event {
        Clock::time_point when;
        std::uint32_t message;   // 0 for a stage report
        unsigned code;           // wParam of a message, stage of a report
        unsigned result;         // result of a report
    };

    int Notify(std::uint32_t message, std::uint32_t wParam, std::int32_t lParam) override;
    void Report(unsigned stage, unsigned result, std::uint32_t position, std::uint32_t total) override;

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
    // When each block was acknowledged (one progress message a block), in order.
    std::vector<Clock::time_point> BlockTimes();

private:
    void Add(const Event& event);
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<Event> m_events;
    std::vector<Clock::time_point> m_blocks;
};

}  // namespace bench
