#include "fdp/CandidateScout.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "fdp/DebugTrace.h"
#include "fdp/Frame.h"
#include "resources/strings/StringIds.h"
#include "resources/strings/StringTable.h"

namespace fdp {

bool CCandidateScout::IsAnnounce(const std::uint8_t* frame, std::size_t length) {
    const auto view = ParseFrame({frame, length});
    return view && view->type == FDP_FRAME_ANNOUNCE;
}

int CCandidateScout::Consider(CAdapterTable& table, int ifindex, const std::uint8_t* frame, std::size_t length) {
    if (!m_on || !IsAnnounce(frame, length)) return -1;
    const int row = table.RowForIfindex(ifindex);
    if (row < 0) return -1;
    if (!table.MayCarryLogin(static_cast<std::size_t>(row))) {
        NoteIgnored(table.At(static_cast<std::size_t>(row)));
        return -1;
    }
    if (!m_moveOnAnnounce) {
        NoteAnnouncer(frame, row);
        return -1;
    }
    return row;
}

void CCandidateScout::NoteAnnouncer(const std::uint8_t* frame, int row) {
    // Each (source, adapter) once between takes, and few: made-up sources cannot grow it.
    constexpr std::size_t kMaxAnnouncers = 64;
    IPacketDriver::HeardAnnounce heard;
    std::memcpy(heard.source.data(), frame + kEthAddrLen, kEthAddrLen);
    heard.adapter = row;
    const bool known =
        std::any_of(m_announcers.begin(), m_announcers.end(), [&](const IPacketDriver::HeardAnnounce& a) {
            return a.adapter == row && a.source == heard.source;
        });
    if (known || m_announcers.size() >= kMaxAnnouncers) return;
    m_announcers.push_back(heard);
    m_hasAnnouncers.store(true, std::memory_order_release);
}

std::vector<IPacketDriver::HeardAnnounce> CCandidateScout::TakeAnnouncers() {
    m_hasAnnouncers = false;
    return std::exchange(m_announcers, {});
}

void CCandidateScout::NoteIgnored(const AdapterEntry& row) {
    if (!m_ignoredSaid.insert(row.name).second) return;
    m_notice = res::FormatString(
        row.rank == RankWireless ? res::IDS_ANNOUNCE_IGNORED_WIRELESS : res::IDS_ANNOUNCE_IGNORED_VIRTUAL, {row.name});
    m_hasNotice.store(true, std::memory_order_release);
    DebugTrace("%s\n", m_notice.c_str());
}

std::string CCandidateScout::TakeNotice() {
    m_hasNotice = false;
    return std::exchange(m_notice, {});
}

}  // namespace fdp

