// Lists the targets that announce themselves, without logging in to any: on the
// adapters the link would use (the first that opens, and every other candidate through
// the driver's scouting), for a few seconds. For `kelvane-cli targets`.
//
// Threads: Listen runs on the caller's thread; Stop may be called from any thread and
// ends a Listen in progress at once.
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "fdp/Frame.h"
#include "fdp/HeardTarget.h"

namespace fdp {

class IPacketDriver;

class CTargetScout {
public:
    // The driver is the scout's alone while it listens: Init'ed, nothing opened yet.
    explicit CTargetScout(IPacketDriver& driver) : m_driver(driver) {}

    // Enumerates the adapters and opens the first that opens; its index, -1 when none.
    int OpenFirstAdapter();
    // Listens for announces this long (or until Stop); one entry per address heard, in
    // the order first heard. Targets seen at most kMaxTargets.
    std::vector<HeardTarget> Listen(std::chrono::milliseconds duration);
    void Stop();

    static constexpr std::size_t kMaxTargets = 64;

private:
    // Counts the frame when it is an announce; true then.
    bool Take(std::span<const std::uint8_t> frame, const std::string& adapter, std::vector<HeardTarget>& heard);

    IPacketDriver& m_driver;
    std::atomic<bool> m_stop{false};
};

}  // namespace fdp
