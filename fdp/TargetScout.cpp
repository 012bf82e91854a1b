#include "fdp/TargetScout.h"

#include <algorithm>

#include "fdp/PacketDriver.h"

namespace fdp {

int CTargetScout::OpenFirstAdapter() {
    const int count = m_driver.EnumerateAdapters();
    for (int index = 0; index < count; ++index)
        if (m_driver.OpenAdapter(static_cast<std::uint16_t>(index)) == OpenOk) return index;
    return -1;
}

void CTargetScout::Stop() {
    m_stop = true;
    m_driver.WakeReceiver();
}

std::vector<HeardTarget> CTargetScout::Listen(std::chrono::milliseconds duration) {
    std::vector<HeardTarget> heard;
    const auto end = std::chrono::steady_clock::now() + duration;
    // Scouting hands on the announce of one other candidate and then moves there; it is
    // armed again after every read that held an announce, so every adapter is heard.
    m_driver.SetScouting(true);
    while (!m_stop && std::chrono::steady_clock::now() < end) {
        std::uint32_t count = 0;
        const std::uint8_t* data = m_driver.ReceiveFrames(count);
        if (!data || count == 0) continue;
        // The frames of one read come from the adapter in use after it: an announce on
        // another candidate moves the driver there and drops the rest of that read.
        const std::string adapter = m_driver.GetAdapterName(m_driver.OpenIndex());
        bool announced = false;
        ForEachCapturedFrame(data, count, [&](std::span<const std::uint8_t> frame) {
            announced = Take(frame, adapter, heard) || announced;
            return true;
        });
        if (announced) m_driver.SetScouting(true);
    }
    m_driver.SetScouting(false);
    return heard;
}

bool CTargetScout::Take(std::span<const std::uint8_t> frame, const std::string& adapter,
                        std::vector<HeardTarget>& heard) {
    const auto view = ParseFrame(frame);
    if (!view || view->type != FDP_FRAME_ANNOUNCE || view->body.size() < 12) return false;
    auto it = std::find_if(heard.begin(), heard.end(), [&](const HeardTarget& t) { return t.address == view->source; });
    if (it == heard.end()) {
        if (heard.size() >= kMaxTargets) return true;
        heard.push_back({view->source, adapter, m_driver.OpenIndex(), 0, {}});
        it = heard.end() - 1;
    }
    it->adapter = adapter;
    ++it->announces;
    it->lastSeen = std::chrono::steady_clock::now();
    return true;
}

}  // namespace fdp
