#include "tools/bench/BenchFrontEnd.h"

namespace bench {

void CBenchFrontEnd::Add(const Event& event) {
    {
        std::lock_guard lock(m_mutex);
        m_events.push_back(event);
    }
    m_cv.notify_all();
}

void CBenchFrontEnd::OnLinkEvent(const fdp::LinkEvent& event) {
    if (const auto* report = std::get_if<fdp::StageReport>(&event)) {
        // A transfer reports once a block: only the blocks' times are kept.
        if (report->stage.IsTransferring()) {
            if (report->position == 0) return;   // the transfer's start, before any block
            const auto now = Clock::now();
            std::lock_guard lock(m_mutex);
            m_blocks.push_back(now);
            return;
        }
        Add({Clock::now(), true, report->stage.Number(), report->result});
    } else if (const auto* end = std::get_if<fdp::JobEnded>(&event)) {
        Add({Clock::now(), false, end->job, end->result});
    }
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
