// The packet driver's scouting: while no target is connected the link listens on every
// candidate adapter, not only the one in use, and moves to the adapter where a target's
// announce arrives first (the first after each Set(true)). Announces heard later on
// other candidates are kept for the link to list (TakeAnnouncers); one on an adapter
// that may not carry a login is told once per adapter (TakeNotice).
// (CTargetScout, which lists the targets for `kelvane-cli targets`, drives this.)
//
// Threads: none of its own; the driver calls it under its lock, but for HasNotice and
// HasAnnouncers, which the receiver asks without it after every read.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "fdp/AdapterTable.h"
#include "fdp/PacketDriver.h"

namespace fdp {

class CCandidateScout {
public:
    void Set(bool on) {
        m_on = on;
        m_moveOnAnnounce = on;
    }

    // A frame on the adapter in use: a target's announce there keeps the link where it is.
    void HeardInUse(const std::uint8_t* frame, std::size_t length) {
        if (m_moveOnAnnounce && IsAnnounce(frame, length)) m_moveOnAnnounce = false;
    }
    // A frame on another interface (or on the one in use, when it may not carry a
    // login): the row the link should move to for it, -1 when it is no business of the
    // link. Only an announce counts, and only while scouting.
    int Consider(CAdapterTable& table, int ifindex, const std::uint8_t* frame, std::size_t length);
    // The link moved to the row Consider named.
    void Moved() { m_moveOnAnnounce = false; }

    bool HasNotice() const { return m_hasNotice.load(std::memory_order_acquire); }
    std::string TakeNotice();
    bool HasAnnouncers() const { return m_hasAnnouncers.load(std::memory_order_acquire); }
    std::vector<IPacketDriver::HeardAnnounce> TakeAnnouncers();

private:
    static bool IsAnnounce(const std::uint8_t* frame, std::size_t length);
    // Keeps the source and row of an announce that scouting does not hand on.
    void NoteAnnouncer(const std::uint8_t* frame, int row);
    // Says once per interface that its announce was ignored.
    void NoteIgnored(const AdapterEntry& row);

    bool m_on = false;
    bool m_moveOnAnnounce = false;   // no announce seen since scouting was (re)started
    std::set<std::string> m_ignoredSaid;
    std::string m_notice;
    std::atomic<bool> m_hasNotice{false};
    std::vector<IPacketDriver::HeardAnnounce> m_announcers;   // not handed on since the last take
    std::atomic<bool> m_hasAnnouncers{false};
};

}  // namespace fdp
