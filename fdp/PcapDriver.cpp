#include "fdp/PcapDriver.h"

#include <dlfcn.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <pcap/pcap.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <span>
#include <type_traits>

#include "resources/strings/StringIds.h"
#include "resources/strings/StringTable.h"


namespace fdp {

namespace {

constexpr const char* kLibraryNames[] = {"libpcap.so.1", "libpcap.so.0.8"};
constexpr int kSnapLen = 2048;                        // whole frames, VLAN tags included
constexpr int kKernelBufferLen = 524288;
constexpr const char* kFilter = "ether proto 0x0707";
constexpr std::size_t kMaxRecordLen = (kCaptureHeaderLen + kSnapLen + 3) & ~std::size_t{3};

// Where one dispatch appends its capture records.
struct DispatchTarget {
    std::span<std::uint8_t> buffer;
    std::size_t used = 0;
};

void AppendPacket(u_char* user, const pcap_pkthdr* header, const u_char* bytes) {
    auto* target = reinterpret_cast<DispatchTarget*>(user);
    const std::size_t next = AppendCaptureRecord(
        target->buffer, target->used, std::span<const std::uint8_t>(bytes, header->caplen),
        header->len);
    // The dispatch count keeps every record within the room left; a frame that does not
    // fit all the same is dropped, as a lost frame would be.
    if (next != 0) target->used = next;
}

// True when the records from `from` on hold the target's announce.
bool HoldsAnnounce(const std::uint8_t* records, std::size_t from, std::size_t to) {
    bool found = false;
    ForEachCapturedFrame(records + from, static_cast<std::uint32_t>(to - from), [&](std::span<const std::uint8_t> frame) {
        const auto view = ParseFrame(frame);
        found = view && view->type == FDP_FRAME_ANNOUNCE;
        return !found;
    });
    return found;
}

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

// An interface named in a link message: up or not, or gone.
struct LinkChange {
    std::string name;
    bool up = false;
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
        change.up = (info->ifi_flags & IFF_UP) != 0;
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

}  // namespace

// The library functions in use, looked up by name when the library is loaded.
struct CPacketDriver::Api {
    decltype(&pcap_create) create = nullptr;
    decltype(&pcap_set_snaplen) setSnaplen = nullptr;
    decltype(&pcap_set_promisc) setPromisc = nullptr;
    decltype(&pcap_set_immediate_mode) setImmediateMode = nullptr;
    decltype(&pcap_set_timeout) setTimeout = nullptr;
    decltype(&pcap_set_buffer_size) setBufferSize = nullptr;
    decltype(&pcap_activate) activate = nullptr;
    decltype(&pcap_setdirection) setDirection = nullptr;
    decltype(&pcap_compile) compile = nullptr;
    decltype(&pcap_setfilter) setFilter = nullptr;
    decltype(&pcap_freecode) freeCode = nullptr;
    decltype(&pcap_setnonblock) setNonblock = nullptr;
    decltype(&pcap_get_selectable_fd) selectableFd = nullptr;
    decltype(&pcap_dispatch) dispatch = nullptr;
    decltype(&pcap_sendpacket) sendPacket = nullptr;
    decltype(&pcap_geterr) getErr = nullptr;
    decltype(&pcap_close) close = nullptr;
};

CPacketDriver::CPacketDriver() = default;

CPacketDriver::~CPacketDriver() {
    Uninit();
    if (m_wakeFd >= 0) ::close(m_wakeFd);
}

int CPacketDriver::Init(void* /*unused*/) {
    WakeReceiver();
    std::lock_guard lock(m_lock);
    CloseHandleLocked();   // a second Init starts from no adapter open, never leaks one
    m_scouting = false;
    SyncWatchesLocked();
    // A whole frame is assembled in the send buffer: header and up to 1500 bytes.
    m_sendBuffer.assign(kMaxFrame, 0);
    m_receiveBuffer.assign(kReceiveBufferLen, 0);
    if (m_wakeFd < 0) m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    return 1;
}

int CPacketDriver::Uninit() {
    WakeReceiver();
    std::lock_guard lock(m_lock);
    CloseHandleLocked();
    m_scouting = false;
    SyncWatchesLocked();
    UnloadLibrary();
    m_sendBuffer = {};
    m_receiveBuffer = {};
    return 1;
}

int CPacketDriver::EnumerateAdapters() {
    auto table = m_adapters.Enumerate(kMaxAdapters);
    const int count = static_cast<int>(table.size());
    {
        WakeReceiver();
        std::lock_guard lock(m_lock);
        // The rows are new: no watch may stand for an old one.
        while (!m_watches.empty()) CloseWatchLocked(m_watches.size() - 1);
        m_table = std::move(table);
    }
    if (count == 0 && !m_adapters.InterfaceFilter().empty())
        SetFailure(res::IDS_NO_SUCH_INTERFACE, {m_adapters.InterfaceFilter()});
    return count;
}

bool CPacketDriver::LoadLibrary() {
    if (m_api) return true;
    for (const char* name : kLibraryNames) {
        m_library = ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
        if (m_library) break;
    }
    if (!m_library) {
        SetFailureLocked(res::IDS_CAPTURE_LIBRARY_MISSING, {});
        return false;
    }
    auto api = std::make_unique<Api>();
    bool complete = true;
    auto bind = [&](auto& function, const char* symbol) {
        function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(
            ::dlsym(m_library, symbol));
        if (!function) {
            if (complete) SetFailureLocked(res::IDS_CAPTURE_LIBRARY_INCOMPLETE, {symbol});
            complete = false;
        }
    };
    bind(api->create, "pcap_create");
    bind(api->setSnaplen, "pcap_set_snaplen");
    bind(api->setPromisc, "pcap_set_promisc");
    bind(api->setImmediateMode, "pcap_set_immediate_mode");
    bind(api->setTimeout, "pcap_set_timeout");
    bind(api->setBufferSize, "pcap_set_buffer_size");
    bind(api->activate, "pcap_activate");
    bind(api->setDirection, "pcap_setdirection");
    bind(api->compile, "pcap_compile");
    bind(api->setFilter, "pcap_setfilter");
    bind(api->freeCode, "pcap_freecode");
    bind(api->setNonblock, "pcap_setnonblock");
    bind(api->selectableFd, "pcap_get_selectable_fd");
    bind(api->dispatch, "pcap_dispatch");
    bind(api->sendPacket, "pcap_sendpacket");
    bind(api->getErr, "pcap_geterr");
    bind(api->close, "pcap_close");
    if (!complete) {
        UnloadLibrary();
        return false;
    }
    m_api = std::move(api);
    return true;
}

void CPacketDriver::UnloadLibrary() {
    m_api.reset();
    if (m_library) ::dlclose(m_library);
    m_library = nullptr;
}

int CPacketDriver::OpenAdapter(std::uint16_t index) {
    WakeReceiver();
    std::lock_guard lock(m_lock);
    if (index >= m_table.size()) return OpenBadIndex;
    if (static_cast<int>(index) == m_openIndex) return OpenAlreadyOpen;
    CloseHandleLocked();
    SetFailureLocked(0, {});
    if (m_sendBuffer.empty()) return OpenNoSendPacket;        // not initialised, or after Uninit
    if (m_receiveBuffer.empty()) return OpenNoReceivePacket;
    if (!LoadLibrary()) return OpenFailed;

    // A watch on this adapter gives way to the open handle.
    for (std::size_t i = 0; i < m_watches.size(); ++i)
        if (m_watches[i].index == index) CloseWatchLocked(i--);
    const std::string name = m_table[index].name;
    Capture capture;
    const int result = OpenHandle(name, capture);
    if (result != OpenOk) return result;
    if (!m_adapters.ReadAddress(name, m_localAddress)) {
        SetFailureLocked(res::IDS_ADDRESS_UNREADABLE, {name});
        m_api->close(capture.handle);
        return OpenNoAddress;
    }
    m_handle = capture.handle;
    m_selectableFd = capture.fd;
    m_openIndex = index;
    SyncWatchesLocked();
    return OpenOk;
}

int CPacketDriver::OpenHandle(const std::string& name, Capture& capture) {
    char errorText[PCAP_ERRBUF_SIZE] = {};
    pcap_t* handle = m_api->create(name.c_str(), errorText);
    if (!handle) {
        SetFailureLocked(res::IDS_CANNOT_OPEN_INTERFACE, {name, errorText});
        return OpenFailed;
    }
    m_api->setSnaplen(handle, kSnapLen);
    m_api->setPromisc(handle, 0);
    // Without immediate mode frames wait in the kernel until a buffer fills or the read
    // time-out passes: every reply would take up to a second.
    m_api->setImmediateMode(handle, 1);
    m_api->setTimeout(handle, kReadTimeoutMs);
    m_api->setBufferSize(handle, kKernelBufferLen);

    auto fail = [&](unsigned textId, std::vector<std::string> words) {
        SetFailureLocked(textId, std::move(words));
        m_api->close(handle);
        return OpenFailed;
    };
    const int activated = m_api->activate(handle);
    if (activated < 0) {
        const std::string detail = m_api->getErr(handle);
        if (activated == PCAP_ERROR_PERM_DENIED ||
            (activated == PCAP_ERROR && detail.find("ermission") != std::string::npos))
            return fail(res::IDS_NO_RAW_PRIVILEGE, {name, ProgramPath()});
        if (activated == PCAP_ERROR_NO_SUCH_DEVICE)
            return fail(res::IDS_NO_SUCH_INTERFACE, {name});
        if (activated == PCAP_ERROR_IFACE_NOT_UP)
            return fail(res::IDS_INTERFACE_DOWN, {name});
        return fail(res::IDS_CANNOT_OPEN_INTERFACE, {name, detail});
    }
    // Only frames that arrive: the link must never read its own commands as replies.
    if (m_api->setDirection(handle, PCAP_D_IN) != 0)
        return fail(res::IDS_CANNOT_PREPARE_CAPTURE, {name, m_api->getErr(handle)});
    bpf_program program{};
    if (m_api->compile(handle, &program, kFilter, 1, PCAP_NETMASK_UNKNOWN) != 0)
        return fail(res::IDS_CANNOT_PREPARE_CAPTURE, {name, m_api->getErr(handle)});
    const int filtered = m_api->setFilter(handle, &program);
    m_api->freeCode(&program);
    if (filtered != 0)
        return fail(res::IDS_CANNOT_PREPARE_CAPTURE, {name, m_api->getErr(handle)});
    if (m_api->setNonblock(handle, 1, errorText) != 0)
        return fail(res::IDS_CANNOT_PREPARE_CAPTURE, {name, errorText});
    const int fd = m_api->selectableFd(handle);
    if (fd < 0) return fail(res::IDS_CANNOT_PREPARE_CAPTURE, {name, "pcap_get_selectable_fd"});
    capture.handle = handle;
    capture.fd = fd;
    return OpenOk;
}

void CPacketDriver::CloseHandleLocked() {
    if (m_handle && m_api) m_api->close(m_handle);
    m_handle = nullptr;
    m_selectableFd = -1;
    m_openIndex = -1;
    ++m_generation;
}

void CPacketDriver::CloseWatchLocked(std::size_t position) {
    if (m_api && m_watches[position].capture.handle) m_api->close(m_watches[position].capture.handle);
    m_watches.erase(m_watches.begin() + static_cast<std::ptrdiff_t>(position));
    ++m_generation;
}

void CPacketDriver::SyncWatchesLocked() {
    if (!m_scouting || m_openIndex < 0 || !m_api) {
        while (!m_watches.empty()) CloseWatchLocked(m_watches.size() - 1);
        if (m_linkFd >= 0) ::close(m_linkFd);
        m_linkFd = -1;
        return;
    }
    // Opened before the captures: an interface that comes up meanwhile is still told of.
    if (m_linkFd < 0) m_linkFd = OpenLinkSocket();
    // A candidate that does not open is no error of the link.
    const unsigned keepId = m_failureId;
    const std::vector<std::string> keepWords = m_failureWords;
    for (std::size_t index = 0; index < m_table.size(); ++index) {
        if (static_cast<int>(index) == m_openIndex) continue;
        const bool watched = std::any_of(m_watches.begin(), m_watches.end(),
                                         [index](const Watch& watch) { return watch.index == index; });
        if (watched) continue;
        Watch watch;
        watch.index = index;
        if (OpenHandle(m_table[index].name, watch.capture) == OpenOk) {
            m_watches.push_back(watch);
            ++m_generation;
        }
    }
    m_failureId = keepId;
    m_failureWords = keepWords;
}

void CPacketDriver::SetScouting(bool on) {
    WakeReceiver();
    std::lock_guard lock(m_lock);
    m_scouting = on;
    m_moveOnAnnounce = on;
    SyncWatchesLocked();
}

int CPacketDriver::OpenIndex() const {
    std::lock_guard lock(m_lock);
    return m_openIndex;
}

bool CPacketDriver::PromoteLocked(std::size_t position) {
    const Watch watch = m_watches[position];
    MacAddress address{};
    if (!m_adapters.ReadAddress(m_table[watch.index].name, address)) return false;
    m_watches.erase(m_watches.begin() + static_cast<std::ptrdiff_t>(position));
    if (m_handle) m_watches.push_back({static_cast<std::size_t>(m_openIndex), {m_handle, m_selectableFd}});
    m_handle = watch.capture.handle;
    m_selectableFd = watch.capture.fd;
    m_openIndex = static_cast<int>(watch.index);
    m_localAddress = address;
    ++m_generation;
    return true;
}

void CPacketDriver::ReadLinkChanges() {
    std::uint8_t buffer[16384];
    std::vector<LinkChange> changes;
    for (;;) {
        const ssize_t got = ::recv(m_linkFd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got <= 0) break;   // drained; an overrun (ENOBUFS) is made good by the next change
        auto more = ParseLinkMessages(buffer, static_cast<std::size_t>(got));
        changes.insert(changes.end(), more.begin(), more.end());
    }
    for (const LinkChange& change : changes) {
        auto row = std::find_if(m_table.begin(), m_table.end(),
                                [&](const AdapterEntry& entry) { return entry.name == change.name; });
        const std::size_t index = static_cast<std::size_t>(row - m_table.begin());
        if (change.gone || !change.up) {
            // Its capture would only report errors; it is opened again when it comes up.
            for (std::size_t i = 0; i < m_watches.size(); ++i)
                if (m_watches[i].index == index) CloseWatchLocked(i--);
            continue;
        }
        if (row == m_table.end() && m_table.size() < kMaxCandidates) {
            if (auto entry = m_adapters.Describe(change.name)) m_table.push_back(std::move(*entry));
        }
    }
    SyncWatchesLocked();
}

int CPacketDriver::CloseAdapter(std::uint16_t index) {
    WakeReceiver();
    std::lock_guard lock(m_lock);
    if (static_cast<int>(index) != m_openIndex) return m_openIndex >= 0 ? -1 : 0;
    CloseHandleLocked();
    SyncWatchesLocked();
    return 0;
}

int CPacketDriver::GetLocalAddress(std::uint8_t* address) {
    std::lock_guard lock(m_lock);
    std::memcpy(address, m_localAddress.data(), m_localAddress.size());
    return 1;
}

std::string CPacketDriver::GetAdapterDescription(int index) {
    std::lock_guard lock(m_lock);
    if (index < 0 || index >= static_cast<int>(m_table.size())) return {};
    return m_table[index].description;
}

std::string CPacketDriver::GetAdapterName(int index) {
    std::lock_guard lock(m_lock);
    if (index < 0 || index >= static_cast<int>(m_table.size())) return {};
    return m_table[index].name;
}

int CPacketDriver::IsEthernet(int index) {
    std::lock_guard lock(m_lock);
    if (index < 0 || index >= static_cast<int>(m_table.size())) return 0;
    return m_table[index].ethernet;
}

int CPacketDriver::SendFrame(const std::uint8_t* destination, const std::uint8_t* payload,
                             std::uint16_t length) {
    if (!destination || !payload || length > kMaxPayload) return 0;
    std::lock_guard lock(m_lock);
    if (!m_handle) return 0;
    const std::span<const std::uint8_t, kEthAddrLen> target(destination, kEthAddrLen);
    const std::size_t frameLength = BuildFrame(m_sendBuffer, target, m_localAddress, {payload, length});
    if (frameLength == 0) return 0;
    return m_api->sendPacket(m_handle, m_sendBuffer.data(), static_cast<int>(frameLength)) == 0 ? 1 : 0;
}

const std::uint8_t* CPacketDriver::ReceiveFrames(std::uint32_t& count) {
    count = 0;
    // Slots: the wake-up descriptor, the open adapter, the link changes, the watches.
    std::vector<pollfd>& fds = m_pollSet;
    fds.clear();
    unsigned generation = 0;
    {
        std::lock_guard lock(m_lock);
        generation = m_generation;
        fds.push_back({m_wakeFd, POLLIN, 0});
        fds.push_back({m_selectableFd, POLLIN, 0});   // a negative descriptor is left out by poll
        fds.push_back({m_linkFd, POLLIN, 0});
        for (const Watch& watch : m_watches) fds.push_back({watch.capture.fd, POLLIN, 0});
    }
    // With no adapter open only the wake-up descriptor is watched: the receiver still
    // returns once a second and at once when woken, and never spins.
    const int ready = ::poll(fds.data(), fds.size(), kReadTimeoutMs);
    if (ready <= 0) return nullptr;
    if (fds[0].revents & POLLIN) {
        eventfd_t drained = 0;
        ::eventfd_read(m_wakeFd, &drained);   // clears every wake given so far
        return nullptr;
    }
    constexpr short kReadable = POLLIN | POLLERR | POLLHUP;
    std::unique_lock lock(m_lock);
    if (generation != m_generation || m_receiveBuffer.empty()) return nullptr;   // changed under the wait
    std::size_t used = 0;
    bool failing = false;
    if (fds[1].fd >= 0 && (fds[1].revents & kReadable)) {
        failing = (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
        DispatchInto(m_handle, used);
        // The target answered where the link already listens: it stays there. Only while
        // the adapter may still move: a download's every read must not parse its frames twice.
        if (m_moveOnAnnounce && used && HoldsAnnounce(m_receiveBuffer.data(), 0, used)) m_moveOnAnnounce = false;
    }
    // Other candidates: only the first announce counts; everything else they carry is
    // no business of the link.
    for (std::size_t slot = 3, position = 0; slot < fds.size(); ++slot) {
        if (!(fds[slot].revents & (kReadable | POLLNVAL))) {
            ++position;
            continue;
        }
        const std::size_t before = used;
        const bool healthy = DispatchInto(m_watches[position].capture.handle, used) &&
                             !(fds[slot].revents & (POLLERR | POLLHUP | POLLNVAL));
        const bool announce = m_moveOnAnnounce && used > before && HoldsAnnounce(m_receiveBuffer.data(), before, used);
        if (announce && PromoteLocked(position)) {
            m_moveOnAnnounce = false;
            break;   // the positions moved; the others are read at the next call
        }
        used = before;
        if (!healthy) {
            CloseWatchLocked(position);   // gone or down: opened again when it comes up
            continue;
        }
        ++position;
    }
    if (fds[2].fd >= 0 && (fds[2].revents & POLLIN)) ReadLinkChanges();
    lock.unlock();
    if (used == 0 && failing) {
        // The interface went away or broke: the descriptor stays ready with nothing to
        // read. Wait out the read time-out (or a wake) so that no caller spins.
        pollfd wake = {m_wakeFd, POLLIN, 0};
        if (::poll(&wake, 1, kReadTimeoutMs) > 0) {
            eventfd_t drained = 0;
            ::eventfd_read(m_wakeFd, &drained);
        }
    }
    if (used == 0) return nullptr;
    count = static_cast<std::uint32_t>(used);
    return m_receiveBuffer.data();
}

bool CPacketDriver::DispatchInto(pcap* handle, std::size_t& used) {
    DispatchTarget target{m_receiveBuffer, used};
    bool healthy = true;
    for (;;) {
        // Never ask for more frames than can be stored whole.
        const std::size_t room = (target.buffer.size() - target.used) / kMaxRecordLen;
        if (room == 0) break;
        const int wanted = static_cast<int>(room);
        const int got = m_api->dispatch(handle, wanted, AppendPacket, reinterpret_cast<u_char*>(&target));
        if (got < 0) healthy = false;
        if (got < wanted) break;   // drained, or an error after what was read
    }
    used = target.used;
    return healthy;
}

int CPacketDriver::IsLinkFrame(const std::uint8_t* frame) {
    if (!frame) return 0;
    return ReadLe16(frame + 12) == FDP_ETHERTYPE ? 1 : 0;
}

void CPacketDriver::WakeReceiver() {
    if (m_wakeFd >= 0) ::eventfd_write(m_wakeFd, 1);
}

void CPacketDriver::SetFailure(unsigned textId, std::vector<std::string> words) {
    std::lock_guard lock(m_lock);
    SetFailureLocked(textId, std::move(words));
}

void CPacketDriver::SetFailureLocked(unsigned textId, std::vector<std::string> words) {
    m_failureId = textId;
    m_failureWords = std::move(words);
}

std::string CPacketDriver::LastError() const {
    std::lock_guard lock(m_lock);
    return m_failureId ? res::FormatString(m_failureId, m_failureWords) : std::string();
}

}  // namespace fdp
