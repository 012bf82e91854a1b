// A production line's ear: hears the targets that announce on the line's adapter while
// no session claims them (a unit just plugged in, or one back after its burn) and hands
// them to the line. It joins the line's dispatcher like a session that never logs in.
//
// Threads: the dispatcher's receiver calls the IDispatchedSession side; Take, Stop and
// the rest on the line's thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "fdp/LinkDispatcher.h"

namespace cli {

class CLineScout : public fdp::IDispatchedSession {
public:
    explicit CLineScout(fdp::IPacketDriver& driver) : m_driver(driver) {}

    struct Heard {
        fdp::MacAddress address{};
        std::string adapter;
    };
    // The line opened its adapter: the scout listens from now on.
    void SetOpened();
    // The targets heard since the last Take (each address once), waiting until one is
    // heard, Wake is called or the time is up.
    std::vector<Heard> Take(std::chrono::steady_clock::time_point until);
    // Ends a Take at once (any thread).
    void Wake();
    // The adapter in use was lost: its name, once.
    std::optional<std::string> TakeLost();

    bool Opened() const override;
    bool ClaimsTarget(const fdp::MacAddress&) const override { return false; }
    void HandleFrame(const std::uint8_t* frame, std::uint32_t length) override;
    void NoteAnnouncer(const fdp::MacAddress&, int) override {}
    void NoteAdapterIndex(int) override {}   // each announce is asked where it was heard
    void NoteNotice(const std::string&) override {}
    void NoteAdapterLost(const std::string& adapter) override;

private:
    fdp::IPacketDriver& m_driver;
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_opened = false;
    bool m_woken = false;
    std::vector<Heard> m_heard;
    std::optional<std::string> m_lost;
};

}  // namespace cli
