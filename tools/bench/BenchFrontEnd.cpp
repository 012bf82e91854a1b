#include "tools/bench/BenchFrontEnd.h"

namespace bench {

void CBenchFrontEnd::Add(const Event& event) {
    {
        std::lock_guard lock(m_mutex);
        m_events.push_back(event);
    }
    m_cv.notify_all();
}

int CBenchFrontEnd::Notify(std::uint32_t message, std::uint32_t wParam, std::int32_t) {
    // Progress messages come once a block: only their times are kept.
    if (message == fdp::WM_FDP_DOWNLOAD && wParam == fdp::NotifyProgress) {
        const auto now = Clock::now();
        std::lock_guard lock(m_mutex);
        m_blocks.push_back(now);
        return 1;
    }
    Add({Clock::now(), message, wParam, 0});
    return 1;
}

void CBenchFrontEnd::Report(unsigned stage, unsigned result, std::uint32_t position, std::uint32_t total) {
    CFdpGui::Report(stage, result, position, total);
    if (stage != 62) Add({Clock::now(), 0, stage, result});   // 62 repeats after every block
}

void CBenchFrontEnd::Clear() {
    std::lock_guard lock(m_mutex);
    m_events.clear();
    m_blocks.clear();
    m_blocks.reserve(4096);
}

std::vector<Clock::time_point> CBenchFrontEnd::BlockTimes() {
    std::lock_guard lock(m_mutex);
    return m_blocks;
}

}  // namespace bench
