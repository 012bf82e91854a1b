#include "fdp/PacketSocketDriver.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <optional>
#include <span>
#include <utility>

#include "fdp/DebugTrace.h"
#include "fdp/Frame.h"
#include "resources/strings/StringIds.h"
#include "resources/strings/StringTable.h"

namespace fdp {

namespace {

// The broker main started, or why there is none; empty when nothing was handed over.
std::mutex g_processBrokerLock;
std::optional<LinkBrokerHandle> g_processBroker;

// A socket told of every interface that appears, changes or goes; -1 when none.
int OpenLinkSocket() {
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) return -1;
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_LINK;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// An interface named in a link message: there (under this ifindex), or gone.
struct LinkChange {
    std::string name;
    int ifindex = 0;
    bool gone = false;
};

// NLMSG_OK's checks, spelled out: the macro compares the message's unsigned length with
// the signed count of bytes left, which some compilers reject as a sign mismatch.
bool LinkMessageFits(const nlmsghdr* header, int remaining) {
    return remaining >= static_cast<int>(sizeof(nlmsghdr)) && header->nlmsg_len >= sizeof(nlmsghdr) &&
           header->nlmsg_len <= static_cast<unsigned>(remaining);
}

// The link messages of one read, checked against the bytes read.
std::vector<LinkChange> ParseLinkMessages(const std::uint8_t* data, std::size_t length) {
    std::vector<LinkChange> changes;
    int remaining = static_cast<int>(length);
    for (auto* header = reinterpret_cast<const nlmsghdr*>(data); LinkMessageFits(header, remaining);
         header = NLMSG_NEXT(header, remaining)) {
        if (header->nlmsg_type != RTM_NEWLINK && header->nlmsg_type != RTM_DELLINK) continue;
        if (header->nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg))) continue;
        const auto* info = static_cast<const ifinfomsg*>(NLMSG_DATA(header));
        LinkChange change;
        change.gone = header->nlmsg_type == RTM_DELLINK;
        change.ifindex = info->ifi_index;
        int attributesLength = static_cast<int>(header->nlmsg_len - NLMSG_LENGTH(sizeof(ifinfomsg)));
        for (auto* attribute = IFLA_RTA(info); RTA_OK(attribute, attributesLength);
             attribute = RTA_NEXT(attribute, attributesLength)) {
            if (attribute->rta_type != IFLA_IFNAME) continue;
            const char* name = static_cast<const char*>(RTA_DATA(attribute));
            change.name.assign(name, ::strnlen(name, RTA_PAYLOAD(attribute)));
        }
        if (!change.name.empty()) changes.push_back(std::move(change));
    }
    return changes;
}

std::string ProgramPath() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "<program>";
    path[n] = '\0';
    return path;
}

// The remedy for a missing CAP_NET_RAW fits how the program is installed: the package
// grants it to a group, a build tree or portable copy is given it by setcap.
unsigned PrivilegeRemedyId(const std::string& programPath) {
    return programPath.starts_with("/usr/") ? res::IDS_NO_RAW_PRIVILEGE_INSTALLED : res::IDS_NO_RAW_PRIVILEGE;
}

bool IsAnnounce(const std::uint8_t* frame, std::size_t length) {
    const auto view = ParseFrame({frame, length});
    return view && view->type == FDP_FRAME_ANNOUNCE;
}

}  // namespace

void CPacketSocketDriver::SetProcessBroker(LinkBrokerHandle broker) {
    std::lock_guard lock(g_processBrokerLock);
    if (g_processBroker && g_processBroker->fd >= 0) ::close(g_processBroker->fd);
    g_processBroker = broker;
}

CPacketSocketDriver::CPacketSocketDriver() = default;

CPacketSocketDriver::~CPacketSocketDriver() {
    Uninit();
    if (m_wire >= 0) ::close(m_wire);
    EndOwnBroker();
    if (m_wakeFd >= 0) ::close(m_wakeFd);
}

// Our own broker ends at the end of its pair anyway; it is ended and reaped here so that
// no process outlives the driver, not even as a zombie.
void CPacketSocketDriver::EndOwnBroker() {
    if (m_ownBroker <= 0) return;
    ::kill(m_ownBroker, SIGKILL);
    while (::waitpid(m_ownBroker, nullptr, 0) < 0 && errno == EINTR) {}
    m_ownBroker = -1;
}

int CPacketSocketDriver::Init(void* /*unused*/) {
    WakeReceiver();
    {
        std::lock_guard lock(m_lock);
        CloseLocked();   // a second Init starts from no adapter chosen
        m_scouting = false;
        m_moveOnAnnounce = false;
        // A whole frame is assembled in the send buffer: header and up to 1500 bytes.
        m_sendBuffer.assign(kMaxFrame, 0);
        m_receiveBuffer.assign(kReceiveBufferLen, 0);
        if (m_wakeFd < 0) m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (m_linkFd < 0) m_linkFd = OpenLinkSocket();
        m_refusedSends = 0;
        if (m_wire < 0 && m_wireError == 0 && m_useOwnSocket) m_wire = OpenPacketSocket(m_wireError);
        if (m_wire < 0 && m_wireError == 0) {
            std::lock_guard process(g_processBrokerLock);
            if (g_processBroker && g_processBroker->fd >= 0) {
                m_wire = ::fcntl(g_processBroker->fd, F_DUPFD_CLOEXEC, 0);
                m_wireError = m_wire < 0 ? errno : 0;
            } else if (g_processBroker) {
                m_wireError = g_processBroker->error;   // main could not start it; nor could we now
            } else {
                const LinkBrokerHandle own = StartLinkBroker();
                m_wire = own.fd;
                m_wireError = own.error;
                m_ownBroker = own.pid;
            }
        }
    }
    // Frames that queued up before the link was started belong to nobody.
    DrainSocket();
    return 1;
}

int CPacketSocketDriver::Uninit() {
    WakeReceiver();
    std::lock_guard lock(m_lock);
    CloseLocked();
    m_scouting = false;
    m_moveOnAnnounce = false;
    if (m_linkFd >= 0) ::close(m_linkFd);
    m_linkFd = -1;
    m_sendBuffer = {};
    m_receiveBuffer = {};
    return 1;
}

void CPacketSocketDriver::DrainSocket() {
    int fd = -1;
    {
        std::lock_guard lock(m_lock);
        fd = m_brokerGone ? -1 : m_wire;
    }
    if (fd < 0) return;
    // A message of no bytes is the pair's end: the receiver finds it again and says so.
    std::uint8_t scratch[sizeof(BrokerHeader) + kSnapLen];
    while (::recv(fd, scratch, sizeof scratch, MSG_DONTWAIT | MSG_TRUNC) > 0) {}
}

int CPacketSocketDriver::EnumerateAdapters() {
    auto table = m_adapters.Enumerate(kMaxAdapters);
    // Frames are matched to rows by the interface's ifindex in this namespace, now.
    for (AdapterEntry& entry : table) entry.ifindex = static_cast<long>(::if_nametoindex(entry.name.c_str()));
    const int count = static_cast<int>(table.size());
    {
        WakeReceiver();
        std::lock_guard lock(m_lock);
        CloseLocked();   // the rows are new: none of them is chosen yet
        m_table = std::move(table);
    }
    if (count == 0 && !m_adapters.InterfaceFilter().empty())
        SetFailure(m_adapters.FilterIsOneName() ? res::IDS_NO_SUCH_INTERFACE : res::IDS_NO_INTERFACE_MATCHES,
                   {m_adapters.InterfaceFilter()});
    return count;
}

int CPacketSocketDriver::OpenAdapter(std::uint16_t index) {
    WakeReceiver();
    std::lock_guard lock(m_lock);
    if (index >= m_table.size()) return OpenBadIndex;
    if (static_cast<int>(index) == m_openIndex) return OpenAlreadyOpen;
    CloseLocked();
    SetFailureLocked(0, {});
    if (m_sendBuffer.empty()) return OpenNoSendPacket;        // not initialised, or after Uninit
    if (m_receiveBuffer.empty()) return OpenNoReceivePacket;
    AdapterEntry& row = m_table[index];
    if (m_wire < 0 || m_brokerGone) {
        if (m_wireError == EPERM || m_wireError == EACCES) {
            const std::string program = ProgramPath();
            SetFailureLocked(PrivilegeRemedyId(program), {row.name, program});
        } else {
            SetFailureLocked(res::IDS_CANNOT_OPEN_INTERFACE,
                             {row.name, std::strerror(m_brokerGone ? EPIPE : m_wireError)});
        }
        return OpenFailed;
    }
    // The interface as it is now: a row read at start may name one made again since.
    const unsigned ifindex = ::if_nametoindex(row.name.c_str());
    if (ifindex == 0) {
        SetFailureLocked(res::IDS_NO_SUCH_INTERFACE, {row.name});
        return OpenFailed;
    }
    row.ifindex = static_cast<long>(ifindex);
    ifreq request{};
    std::strncpy(request.ifr_name, row.name.c_str(), IFNAMSIZ - 1);
    // Any socket answers for the interface's flags; no privilege is needed.
    if (::ioctl(m_wire, SIOCGIFFLAGS, &request) != 0) {
        SetFailureLocked(res::IDS_CANNOT_OPEN_INTERFACE, {row.name, std::strerror(errno)});
        return OpenFailed;
    }
    if (!(request.ifr_flags & IFF_UP)) {
        SetFailureLocked(res::IDS_INTERFACE_DOWN, {row.name});
        return OpenFailed;
    }
    if (!m_adapters.ReadAddress(row.name, m_localAddress)) {
        SetFailureLocked(res::IDS_ADDRESS_UNREADABLE, {row.name});
        return OpenNoAddress;
    }
    m_openIndex = index;
    UpdateLinkIfindexLocked();
    return OpenOk;
}

void CPacketSocketDriver::CloseLocked() {
    m_openIndex = -1;
    m_linkIfindex = 0;
    m_lost.clear();   // an adapter no longer in use is nobody's loss
    m_hasLost = false;
}

int CPacketSocketDriver::CloseAdapter(std::uint16_t index) {
    WakeReceiver();
    std::lock_guard lock(m_lock);
    if (static_cast<int>(index) != m_openIndex) return m_openIndex >= 0 ? -1 : 0;
    CloseLocked();
    return 0;
}

bool CPacketSocketDriver::MayCarryLoginLocked(std::size_t row) const {
    return m_adapters.MayCarryLogin(m_table[row]);
}

void CPacketSocketDriver::UpdateLinkIfindexLocked() {
    m_linkIfindex = 0;
    if (m_openIndex < 0) return;
    const auto row = static_cast<std::size_t>(m_openIndex);
    if (MayCarryLoginLocked(row)) m_linkIfindex = static_cast<int>(m_table[row].ifindex);
}

void CPacketSocketDriver::SetScouting(bool on) {
    WakeReceiver();
    std::lock_guard lock(m_lock);
    m_scouting = on;
    m_moveOnAnnounce = on;
}

int CPacketSocketDriver::OpenIndex() const {
    std::lock_guard lock(m_lock);
    return m_openIndex;
}

std::string CPacketSocketDriver::TakeNotice() {
    if (!m_hasNotice.load(std::memory_order_acquire)) return {};
    std::lock_guard lock(m_lock);
    m_hasNotice = false;
    return std::exchange(m_notice, {});
}

std::string CPacketSocketDriver::TakeAdapterLost() {
    if (!m_hasLost.load(std::memory_order_acquire)) return {};
    std::lock_guard lock(m_lock);
    m_hasLost = false;
    return std::exchange(m_lost, {});
}

int CPacketSocketDriver::GetLocalAddress(std::uint8_t* address) {
    std::lock_guard lock(m_lock);
    std::memcpy(address, m_localAddress.data(), m_localAddress.size());
    return 1;
}

std::string CPacketSocketDriver::GetAdapterDescription(int index) {
    std::lock_guard lock(m_lock);
    if (index < 0 || index >= static_cast<int>(m_table.size())) return {};
    return m_table[index].description;
}

std::string CPacketSocketDriver::GetAdapterName(int index) {
    std::lock_guard lock(m_lock);
    if (index < 0 || index >= static_cast<int>(m_table.size())) return {};
    return m_table[index].name;
}

int CPacketSocketDriver::IsEthernet(int index) {
    std::lock_guard lock(m_lock);
    if (index < 0 || index >= static_cast<int>(m_table.size())) return 0;
    return m_table[index].ethernet;
}

int CPacketSocketDriver::SendFrame(const std::uint8_t* destination, const std::uint8_t* payload,
                                   std::uint16_t length) {
    if (!destination || !payload || length > kMaxPayload) return 0;
    std::lock_guard lock(m_lock);
    if (m_openIndex < 0 || m_wire < 0 || m_brokerGone || m_sendBuffer.empty()) return 0;
    const int ifindex = static_cast<int>(m_table[static_cast<std::size_t>(m_openIndex)].ifindex);
    if (ifindex <= 0) return 0;   // the interface is gone
    const std::span<const std::uint8_t, kEthAddrLen> target(destination, kEthAddrLen);
    const std::size_t frameLength = BuildFrame(m_sendBuffer, target, m_localAddress, {payload, length});
    if (frameLength == 0) return 0;
    if (m_useOwnSocket) {
        sockaddr_ll to{};
        to.sll_family = AF_PACKET;
        to.sll_protocol = htons(FDP_ETHERTYPE);
        to.sll_ifindex = ifindex;
        to.sll_halen = kEthAddrLen;
        std::memcpy(to.sll_addr, destination, kEthAddrLen);
        const ssize_t sent = ::sendto(m_wire, m_sendBuffer.data(), frameLength, 0,
                                      reinterpret_cast<const sockaddr*>(&to), sizeof to);
        return sent == static_cast<ssize_t>(frameLength) ? 1 : 0;
    }
    BrokerHeader header;
    header.ifindex = static_cast<std::uint32_t>(ifindex);
    header.length = static_cast<std::uint16_t>(frameLength);
    header.kind = BrokerSend;
    iovec parts[2] = {{&header, sizeof header}, {m_sendBuffer.data(), frameLength}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = 2;
    // Waits only while the broker's queue is full, which it empties without waiting for us.
    const ssize_t sent = ::sendmsg(m_wire, &message, MSG_NOSIGNAL);
    return sent == static_cast<ssize_t>(sizeof header + frameLength) ? 1 : 0;
}

const std::uint8_t* CPacketSocketDriver::ReceiveFrames(std::uint32_t& count) {
    count = 0;
    pollfd fds[3];
    {
        std::lock_guard lock(m_lock);
        // A negative descriptor is left out by poll: with no socket only the wake-up
        // descriptor is watched, so the receiver still returns once a second and at
        // once when woken, and never spins.
        fds[0] = {m_wakeFd, POLLIN, 0};
        fds[1] = {m_brokerGone ? -1 : m_wire, POLLIN, 0};
        fds[2] = {m_linkFd, POLLIN, 0};
    }
    const int ready = ::poll(fds, 3, kReadTimeoutMs);
    if (ready <= 0) return nullptr;
    if (fds[0].revents & POLLIN) {
        eventfd_t drained = 0;
        ::eventfd_read(m_wakeFd, &drained);   // clears every wake given so far
        return nullptr;
    }
    std::lock_guard lock(m_lock);
    if (fds[2].revents & POLLIN) ReadLinkChanges();
    if (!(fds[1].revents & (POLLIN | POLLHUP | POLLERR)) || m_receiveBuffer.empty()) return nullptr;
    const std::size_t used = ReadFramesLocked();
    if (used == 0) return nullptr;
    count = static_cast<std::uint32_t>(used);
    return m_receiveBuffer.data();
}

// Frames land at fixed slots; the record header of a kept frame is written in the room
// between the end of the record before it and the frame, with its length saying where
// the frame starts. A frame that is not kept simply gets no record.
std::size_t CPacketSocketDriver::ReadFramesLocked() {
    std::uint8_t* buffer = m_receiveBuffer.data();
    std::size_t used = 0;
    for (;;) {
        const std::size_t slots = std::min(kBatch, (m_receiveBuffer.size() - used) / kSlotLen);
        if (slots == 0) break;
        const std::size_t base = used;
        // From the broker: its header, then the frame; from our own socket: the frame,
        // and its origin as the header is made from it below.
        for (std::size_t i = 0; i < slots; ++i) {
            std::uint8_t* frame = buffer + base + kCaptureHeaderLen + i * kSlotLen;
            msghdr& header = m_messages[i].msg_hdr;
            header = {};
            if (m_useOwnSocket) {
                m_vectors[i][0] = {frame, kSnapLen};
                header.msg_name = &m_sources[i];
                header.msg_namelen = sizeof m_sources[i];
            } else {
                m_vectors[i][0] = {&m_headers[i], sizeof m_headers[i]};
                m_vectors[i][1] = {frame, kSnapLen};
            }
            header.msg_iov = m_vectors[i];
            header.msg_iovlen = m_useOwnSocket ? 1 : 2;
        }
        const int got = ::recvmmsg(m_wire, m_messages, static_cast<unsigned>(slots), MSG_DONTWAIT, nullptr);
        if (got < 0 && !m_useOwnSocket && errno != EAGAIN && errno != EINTR) BrokerGoneLocked();
        if (got <= 0) break;
        for (std::size_t i = 0; i < static_cast<std::size_t>(got); ++i) {
            const std::size_t frameAt = base + kCaptureHeaderLen + i * kSlotLen;
            if (m_messages[i].msg_hdr.msg_flags & MSG_TRUNC) continue;
            std::size_t length = m_messages[i].msg_len;
            BrokerHeader& from = m_headers[i];
            if (m_useOwnSocket) {
                from = {static_cast<std::uint32_t>(m_sources[i].sll_ifindex), static_cast<std::uint16_t>(length),
                        BrokerFrame, m_sources[i].sll_pkttype};
            } else {
                if (length == 0) {   // the pair's end: the broker is gone
                    BrokerGoneLocked();
                    return used;
                }
                if (length < sizeof from) continue;
                length -= sizeof from;
                if (from.kind == BrokerRefused) {
                    m_refusedSends.fetch_add(1, std::memory_order_relaxed);
                    DebugTrace("The link broker refused a frame (reason %u)\n", unsigned{from.detail});
                    continue;
                }
                if (from.kind != BrokerFrame || from.length != length) continue;
            }
            if (!Accept(from, buffer + frameAt, length)) continue;
            std::uint8_t* record = buffer + used;
            std::memset(record, 0, kCaptureHeaderFields);
            WriteLe32(record + 8, static_cast<std::uint32_t>(length));
            WriteLe32(record + 12, static_cast<std::uint32_t>(length));
            WriteLe16(record + 16, static_cast<std::uint16_t>(frameAt - used));
            used = AlignCaptureRecord(frameAt + length);
        }
        if (static_cast<std::size_t>(got) < slots) break;   // drained
    }
    return used;
}

bool CPacketSocketDriver::Accept(const BrokerHeader& from, const std::uint8_t* frame, std::size_t length) {
    // Our own frames, on a kernel that still delivers them: never a reply.
    if (from.detail == PACKET_OUTGOING || length < kEthHeaderLen) return false;
    const int ifindex = static_cast<int>(from.ifindex);
    if (ifindex == m_linkIfindex && m_linkIfindex != 0) {
        // The target answered where the link already listens: it stays there.
        if (m_moveOnAnnounce && IsAnnounce(frame, length)) m_moveOnAnnounce = false;
        return true;
    }
    return AcceptElsewhere(ifindex, frame, length);
}

// Another interface, or the chosen one when it may not carry a login: only an announce
// counts, and only while the link may still move; everything else is no business of
// the link.
bool CPacketSocketDriver::AcceptElsewhere(int ifindex, const std::uint8_t* frame, std::size_t length) {
    if (!m_scouting || !IsAnnounce(frame, length)) return false;
    const int row = RowForIfindexLocked(ifindex);
    if (row < 0) return false;
    if (!MayCarryLoginLocked(static_cast<std::size_t>(row))) {
        NoteIgnoredLocked(m_table[static_cast<std::size_t>(row)]);
        return false;
    }
    if (!m_moveOnAnnounce) {
        NoteAnnouncerLocked(frame, row);
        return false;
    }
    MacAddress address{};
    if (!m_adapters.ReadAddress(m_table[static_cast<std::size_t>(row)].name, address)) return false;
    m_openIndex = row;
    m_localAddress = address;
    UpdateLinkIfindexLocked();
    m_moveOnAnnounce = false;
    return true;
}

void CPacketSocketDriver::BrokerGoneLocked() {
    if (m_brokerGone) return;
    m_brokerGone = true;
    DebugTrace("The link broker ended\n");
    if (m_openIndex < 0) return;
    m_lost = m_table[static_cast<std::size_t>(m_openIndex)].name;
    m_hasLost.store(true, std::memory_order_release);
}

void CPacketSocketDriver::NoteAnnouncerLocked(const std::uint8_t* frame, int row) {
    // Each (source, adapter) once between takes, and few: made-up sources cannot grow it.
    constexpr std::size_t kMaxAnnouncers = 64;
    HeardAnnounce heard;
    std::memcpy(heard.source.data(), frame + kEthAddrLen, kEthAddrLen);
    heard.adapter = row;
    const bool known = std::any_of(m_announcers.begin(), m_announcers.end(), [&](const HeardAnnounce& a) {
        return a.adapter == row && a.source == heard.source;
    });
    if (known || m_announcers.size() >= kMaxAnnouncers) return;
    m_announcers.push_back(heard);
    m_hasAnnouncers.store(true, std::memory_order_release);
}

std::vector<IPacketDriver::HeardAnnounce> CPacketSocketDriver::TakeAnnouncers() {
    if (!m_hasAnnouncers.load(std::memory_order_acquire)) return {};
    std::lock_guard lock(m_lock);
    m_hasAnnouncers = false;
    return std::exchange(m_announcers, {});
}

void CPacketSocketDriver::NoteIgnoredLocked(const AdapterEntry& row) {
    if (!m_ignoredSaid.insert(row.name).second) return;
    m_notice = res::FormatString(
        row.rank == RankWireless ? res::IDS_ANNOUNCE_IGNORED_WIRELESS : res::IDS_ANNOUNCE_IGNORED_VIRTUAL, {row.name});
    m_hasNotice.store(true, std::memory_order_release);
    DebugTrace("%s\n", m_notice.c_str());
}

int CPacketSocketDriver::RowForIfindexLocked(int ifindex) {
    if (ifindex <= 0) return -1;
    for (std::size_t row = 0; row < m_table.size(); ++row)
        if (m_table[row].ifindex == ifindex) return static_cast<int>(row);
    // Heard before rtnetlink told of it (or after its messages overran): looked up now.
    char name[IF_NAMESIZE] = {};
    if (!::if_indextoname(static_cast<unsigned>(ifindex), name)) return -1;
    auto entry = m_adapters.Describe(name);
    if (!entry) return -1;
    entry->ifindex = ifindex;
    return AddRowLocked(std::move(*entry));
}

int CPacketSocketDriver::AddRowLocked(AdapterEntry entry) {
    for (std::size_t row = 0; row < m_table.size(); ++row) {
        if (m_table[row].name != entry.name) continue;
        // Made again under a new ifindex, and perhaps as another kind of interface.
        m_table[row].ifindex = entry.ifindex;
        m_table[row].rank = entry.rank;
        m_table[row].description = std::move(entry.description);
        if (static_cast<int>(row) == m_openIndex) UpdateLinkIfindexLocked();
        return static_cast<int>(row);
    }
    if (m_table.size() < kMaxCandidates) {
        m_table.push_back(std::move(entry));
        return static_cast<int>(m_table.size() - 1);
    }
    // Full: the row of an interface that is gone makes room; the chosen one stays.
    for (std::size_t row = 0; row < m_table.size(); ++row) {
        if (m_table[row].ifindex != 0 || static_cast<int>(row) == m_openIndex) continue;
        m_table[row] = std::move(entry);
        return static_cast<int>(row);
    }
    return -1;
}

void CPacketSocketDriver::ReadLinkChanges() {
    std::uint8_t buffer[16384];
    std::vector<LinkChange> changes;
    for (;;) {
        const ssize_t got = ::recv(m_linkFd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got <= 0) break;   // drained; an overrun (ENOBUFS) is made good when an announce comes
        auto more = ParseLinkMessages(buffer, static_cast<std::size_t>(got));
        changes.insert(changes.end(), more.begin(), more.end());
    }
    for (const LinkChange& change : changes) {
        auto row = std::find_if(m_table.begin(), m_table.end(),
                                [&](const AdapterEntry& entry) { return entry.name == change.name; });
        if (change.gone) {
            // Kept with its index, which the front end may name; heard again when it comes back.
            if (row != m_table.end() && row->ifindex == change.ifindex) {
                row->ifindex = 0;
                if (row - m_table.begin() == m_openIndex) {
                    UpdateLinkIfindexLocked();
                    m_lost = row->name;
                    m_hasLost.store(true, std::memory_order_release);
                }
            }
            continue;
        }
        if (row != m_table.end()) {
            if (row->ifindex == change.ifindex) continue;
            row->ifindex = change.ifindex;
            if (row - m_table.begin() == m_openIndex) {
                // A USB target made its interface again: its address may be new too.
                m_adapters.ReadAddress(row->name, m_localAddress);
            }
            continue;
        }
        if (auto entry = m_adapters.Describe(change.name)) {
            entry->ifindex = change.ifindex;
            AddRowLocked(std::move(*entry));
        }
    }
    // A name that comes back may be another kind of interface (a veth under a wired
    // adapter's old name), and an adapter put into a bridge or under a VLAN tells only
    // of itself, not of what now sits on it: every present row is ranked again.
    if (std::none_of(changes.begin(), changes.end(), [](const LinkChange& c) { return !c.gone; })) return;
    for (AdapterEntry& entry : m_table)
        if (entry.ifindex != 0) entry.rank = m_adapters.RankOf(entry.name);
    UpdateLinkIfindexLocked();
}

int CPacketSocketDriver::IsLinkFrame(const std::uint8_t* frame) {
    if (!frame) return 0;
    return ReadLe16(frame + 12) == FDP_ETHERTYPE ? 1 : 0;
}

void CPacketSocketDriver::WakeReceiver() {
    if (m_wakeFd >= 0) ::eventfd_write(m_wakeFd, 1);
}

void CPacketSocketDriver::SetFailure(unsigned textId, std::vector<std::string> words) {
    std::lock_guard lock(m_lock);
    SetFailureLocked(textId, std::move(words));
}

void CPacketSocketDriver::SetFailureLocked(unsigned textId, std::vector<std::string> words) {
    m_failureId = textId;
    m_failureWords = std::move(words);
}

std::string CPacketSocketDriver::LastError() const {
    std::lock_guard lock(m_lock);
    return m_failureId ? res::FormatString(m_failureId, m_failureWords) : std::string();
}

}  // namespace fdp
