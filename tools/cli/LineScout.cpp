#include "tools/cli/LineScout.h"

#include <algorithm>
#include <utility>

#include "fdp/Frame.h"
#include "fdp/PacketDriver.h"

namespace cli {

void CLineScout::SetOpened() {
    std::lock_guard lock(m_lock);
    m_opened = true;
}

bool CLineScout::Opened() const {
    std::lock_guard lock(m_lock);
    return m_opened;
}

void CLineScout::HandleFrame(const std::uint8_t* frame, std::uint32_t length) {
    const auto view = fdp::ParseFrame({frame, length});
    // An announce carries the challenge and two more words: 12 bytes at least.
    if (!view || view->type != fdp::FDP_FRAME_ANNOUNCE || view->body.size() < 12) return;
    const std::string adapter = m_driver.GetAdapterName(m_driver.OpenIndex());
    {
        std::lock_guard lock(m_lock);
        const auto same = [&](const Heard& heard) { return heard.address == view->source; };
        if (std::find_if(m_heard.begin(), m_heard.end(), same) != m_heard.end()) return;
        m_heard.push_back({view->source, adapter});
    }
    m_changed.notify_all();
}

void CLineScout::NoteAdapterLost(const std::string& adapter) {
    {
        std::lock_guard lock(m_lock);
        m_lost = adapter;
    }
    m_changed.notify_all();
}

std::vector<CLineScout::Heard> CLineScout::Take(std::chrono::steady_clock::time_point until) {
    std::unique_lock lock(m_lock);
    m_changed.wait_until(lock, until, [this] { return m_woken || !m_heard.empty() || m_lost; });
    m_woken = false;
    return std::exchange(m_heard, {});
}

void CLineScout::Wake() {
    {
        std::lock_guard lock(m_lock);
        m_woken = true;
    }
    m_changed.notify_all();
}

std::optional<std::string> CLineScout::TakeLost() {
    std::lock_guard lock(m_lock);
    return std::exchange(m_lost, std::nullopt);
}

}  // namespace cli
