#include "fdp/PacketSocketDriver.h"

#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <span>
#include <utility>

#include "fdp/DebugTrace.h"
#include "fdp/Frame.h"
#include "resources/strings/StringIds.h"

namespace fdp {

CPacketSocketDriver::CPacketSocketDriver(std::optional<LinkBrokerHandle> broker) : m_wire(broker) {}

CPacketSocketDriver::~CPacketSocketDriver() {
    Uninit();
    if (m_wakeFd >= 0) ::close(m_wakeFd);
}

int CPacketSocketDriver::Init(void* /*unused*/) {
    WakeReceiver();
    {
        std::lock_guard lock(m_lock);
        CloseLocked();   // a second Init starts from no adapter chosen
        m_scout.Set(false);
        // A whole frame is assembled in the send buffer: header and up to 1500 bytes.
        m_sendBuffer.assign(kMaxFrame, 0);
        m_receiveBuffer.assign(kReceiveBufferLen, 0);
        if (m_wakeFd < 0) m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        m_watcher.Open();
        m_wire.Open();
    }
    // Frames that queued up before the link was started belong to nobody.
    DrainSocket();
    return 1;
}

int CPacketSocketDriver::Uninit() {
    WakeReceiver();
    std::lock_guard lock(m_lock);
    CloseLocked();
    m_scout.Set(false);
    m_watcher.Close();
    m_sendBuffer = {};
    m_receiveBuffer = {};
    return 1;
}

void CPacketSocketDriver::DrainSocket() {
    int fd = -1;
    {
        std::lock_guard lock(m_lock);
        fd = m_wire.Readable();
    }
    CPacketWire::Drain(fd);
}

int CPacketSocketDriver::EnumerateAdapters() {
    auto table = m_adapters.Enumerate(kMaxAdapters);
    // Frames are matched to rows by the interface's ifindex in this namespace, now.
    for (AdapterEntry& entry : table) entry.ifindex = static_cast<long>(::if_nametoindex(entry.name.c_str()));
    const int count = static_cast<int>(table.size());
    WakeReceiver();
    std::lock_guard lock(m_lock);
    CloseLocked();   // the rows are new: none of them is chosen yet
    m_table.Replace(std::move(table));
    if (count == 0 && !m_adapters.InterfaceFilter().empty())
        m_failure.Set(m_adapters.FilterIsOneName() ? res::IDS_NO_SUCH_INTERFACE : res::IDS_NO_INTERFACE_MATCHES,
                      {m_adapters.InterfaceFilter()});
    return count;
}

int CPacketSocketDriver::OpenAdapter(std::uint16_t index) {
    WakeReceiver();
    std::lock_guard lock(m_lock);
    if (index >= m_table.Size()) return OpenBadIndex;
    if (static_cast<int>(index) == m_table.InUse()) return OpenAlreadyOpen;
    CloseLocked();
    m_failure.Clear();
    if (m_sendBuffer.empty()) return OpenNoSendPacket;        // not initialised, or after Uninit
    if (m_receiveBuffer.empty()) return OpenNoReceivePacket;
    AdapterEntry& row = m_table.At(index);
    if (!m_wire.Usable()) {
        m_failure.SetNoSocket(row.name, m_wire.Error());
        return OpenFailed;
    }
    // The interface as it is now: a row read at start may name one made again since.
    const unsigned ifindex = ::if_nametoindex(row.name.c_str());
    if (ifindex == 0) {
        m_failure.Set(res::IDS_NO_SUCH_INTERFACE, {row.name});
        return OpenFailed;
    }
    row.ifindex = static_cast<long>(ifindex);
    short flags = 0;
    if (const int error = m_wire.ReadFlags(row.name, flags); error != 0) {
        m_failure.Set(res::IDS_CANNOT_OPEN_INTERFACE, {row.name, std::strerror(error)});
        return OpenFailed;
    }
    if (!(flags & IFF_UP)) {
        m_failure.Set(res::IDS_INTERFACE_DOWN, {row.name});
        return OpenFailed;
    }
    if (!m_adapters.ReadAddress(row.name, m_localAddress)) {
        m_failure.Set(res::IDS_ADDRESS_UNREADABLE, {row.name});
        return OpenNoAddress;
    }
    m_table.Use(index);
    return OpenOk;
}

void CPacketSocketDriver::CloseLocked() {
    m_table.Release();
    m_lost.clear();   // an adapter no longer in use is nobody's loss
    m_hasLost = false;
}

int CPacketSocketDriver::CloseAdapter(std::uint16_t index) {
    WakeReceiver();
    std::lock_guard lock(m_lock);
    if (static_cast<int>(index) != m_table.InUse()) return m_table.InUse() >= 0 ? -1 : 0;
    CloseLocked();
    return 0;
}

void CPacketSocketDriver::SetScouting(bool on) {
    WakeReceiver();
    std::lock_guard lock(m_lock);
    m_scout.Set(on && !m_pinned);
}

void CPacketSocketDriver::PinAdapter() {
    WakeReceiver();
    std::lock_guard lock(m_lock);
    m_pinned = true;
    m_scout.Set(false);
}

int CPacketSocketDriver::OpenIndex() const {
    std::lock_guard lock(m_lock);
    return m_table.InUse();
}

std::string CPacketSocketDriver::TakeNotice() {
    if (!m_scout.HasNotice()) return {};
    std::lock_guard lock(m_lock);
    return m_scout.TakeNotice();
}

std::vector<IPacketDriver::HeardAnnounce> CPacketSocketDriver::TakeAnnouncers() {
    if (!m_scout.HasAnnouncers()) return {};
    std::lock_guard lock(m_lock);
    return m_scout.TakeAnnouncers();
}

std::string CPacketSocketDriver::TakeAdapterLost() {
    if (!m_hasLost.load(std::memory_order_acquire)) return {};
    std::lock_guard lock(m_lock);
    m_hasLost = false;
    return std::exchange(m_lost, {});
}

void CPacketSocketDriver::LostLocked(std::string name) {
    m_lost = std::move(name);
    m_hasLost.store(true, std::memory_order_release);
}

int CPacketSocketDriver::GetLocalAddress(std::uint8_t* address) {
    std::lock_guard lock(m_lock);
    std::memcpy(address, m_localAddress.data(), m_localAddress.size());
    return 1;
}

std::string CPacketSocketDriver::GetAdapterDescription(int index) {
    std::lock_guard lock(m_lock);
    if (!m_table.Has(index)) return {};
    return m_table.At(static_cast<std::size_t>(index)).description;
}

std::string CPacketSocketDriver::GetAdapterName(int index) {
    std::lock_guard lock(m_lock);
    if (!m_table.Has(index)) return {};
    return m_table.At(static_cast<std::size_t>(index)).name;
}

int CPacketSocketDriver::IsEthernet(int index) {
    std::lock_guard lock(m_lock);
    if (!m_table.Has(index)) return 0;
    return m_table.At(static_cast<std::size_t>(index)).ethernet;
}

int CPacketSocketDriver::SendFrame(const std::uint8_t* destination, const std::uint8_t* payload,
                                   std::uint16_t length) {
    if (!destination || !payload || length > kMaxPayload) return 0;
    std::lock_guard lock(m_lock);
    if (m_table.InUse() < 0 || !m_wire.Usable() || m_sendBuffer.empty()) return 0;
    const int ifindex = static_cast<int>(m_table.At(static_cast<std::size_t>(m_table.InUse())).ifindex);
    if (ifindex <= 0) return 0;   // the interface is gone
    const std::span<const std::uint8_t, kEthAddrLen> target(destination, kEthAddrLen);
    const std::size_t frameLength = BuildFrame(m_sendBuffer, target, m_localAddress, {payload, length});
    if (frameLength == 0) return 0;
    return m_wire.Send(ifindex, destination, m_sendBuffer.data(), frameLength) ? 1 : 0;
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
        fds[1] = {m_wire.Readable(), POLLIN, 0};
        fds[2] = {m_watcher.Descriptor(), POLLIN, 0};
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
        const CPacketWire::Batch batch = m_wire.ReadBatch(buffer + base + kCaptureHeaderLen, slots, kSlotLen);
        for (std::size_t i = 0; i < batch.read; ++i) {
            const std::size_t length = m_wire.Length(i);
            if (length == 0) continue;
            const std::size_t frameAt = base + kCaptureHeaderLen + i * kSlotLen;
            if (!Accept(m_wire.From(i), buffer + frameAt, length)) continue;
            WriteCaptureHeader(buffer + used, static_cast<std::uint32_t>(length),
                               static_cast<std::uint16_t>(frameAt - used));
            used = AlignCaptureRecord(frameAt + length);
        }
        if (batch.ended) {
            DebugTrace("The link broker ended\n");
            if (m_table.InUse() >= 0) LostLocked(m_table.At(static_cast<std::size_t>(m_table.InUse())).name);
            break;
        }
        if (batch.read < slots) break;   // drained
    }
    return used;
}

bool CPacketSocketDriver::Accept(const BrokerHeader& from, const std::uint8_t* frame, std::size_t length) {
    // Our own frames never come back: a packet socket bound to one EtherType is handed
    // only frames that arrive; only an every-protocol socket sees those going out.
    if (length < kEthHeaderLen) return false;
    const int ifindex = static_cast<int>(from.ifindex);
    if (ifindex == m_table.LinkIfindex() && ifindex != 0) {
        // The target answered where the link already listens: it stays there.
        m_scout.HeardInUse(frame, length);
        return true;
    }
    // Another interface, or the chosen one when it may not carry a login.
    const int row = m_scout.Consider(m_table, ifindex, frame, length);
    return row >= 0 && MoveToLocked(row);
}

// Frames go out with the adapter's own address as their source: a card drops frames
// to any other, and the broker refuses to send them.
bool CPacketSocketDriver::MoveToLocked(int row) {
    MacAddress address{};
    if (!m_adapters.ReadAddress(m_table.At(static_cast<std::size_t>(row)).name, address)) return false;
    m_table.Use(row);
    m_localAddress = address;
    m_scout.Moved();
    return true;
}

void CPacketSocketDriver::ReadLinkChanges() {
    const auto inUse = m_table.Apply(m_watcher.ReadChanges());
    // A USB target made its interface again: its address may be new too.
    if (!inUse.remade.empty()) m_adapters.ReadAddress(inUse.remade, m_localAddress);
    if (!inUse.lost.empty()) LostLocked(inUse.lost);
}

int CPacketSocketDriver::IsLinkFrame(const std::uint8_t* frame) {
    if (!frame) return 0;
    return ReadLe16(frame + 12) == FDP_ETHERTYPE ? 1 : 0;
}

void CPacketSocketDriver::WakeReceiver() {
    if (m_wakeFd >= 0) ::eventfd_write(m_wakeFd, 1);
}

std::string CPacketSocketDriver::LastError() const {
    std::lock_guard lock(m_lock);
    return m_failure.Text();
}

}  // namespace fdp
