// The packet driver. The packet socket itself (AF_PACKET, SOCK_RAW, EtherType 0x0707,
// bound to no interface) is held by the link broker, a process of its own (LinkBroker.h):
// this driver hears the link's frames from every interface of the host, those that
// appear later included, with the interface each came in on, and has frames sent on the
// interface in use. It holds its parts: the wire to the broker (CPacketWire), the adapter
// table (CAdapterTable) kept current by the link watcher (CLinkWatcher), the scouting on
// every candidate (CCandidateScout) and the reason of the last failure (CAdapterFailure).
//
// Privilege: creating the socket needs CAP_NET_RAW, using it does not. The programs
// start the broker first thing in main (StartLinkBroker), give up every capability and
// hand the broker to each driver they make (its constructor); a process that keeps no
// raw socket can load a toolkit's plugins. A driver given none (the benchmark, tests)
// starts a broker of its own at its first Init, which ends with the driver. One driver
// at a time uses a broker handed over. A process that plays the
// target (the simulator, the benchmark's echo target) stands for a device that has no
// broker: it asks for a socket of its own (UseOwnSocket) and reaches the wire directly.
//
// A broker that ends (killed, or failed) is the loss of the adapter in use: the link's
// run ends at once (TakeAdapterLost), it never waits for a time-out.
//
// "Opening" an adapter of the table means choosing it as the one the link talks on.
// The table is kept current through rtnetlink: an interface that appears later joins
// it, and one deleted and made again (a USB target restarting) is heard under its new
// ifindex. The deletion of the adapter in use is told (TakeAdapterLost): nothing can
// answer on it any more.
//
// Threads: SendFrame (worker) and ReceiveFrames (receiver) may run at the same time;
// both take the lock only for the moment they touch the socket's state, never while
// ReceiveFrames waits. OpenAdapter, CloseAdapter, SetScouting and Uninit wake a waiting
// ReceiveFrames first, so they never wait for a read time-out. The records returned by
// ReceiveFrames stay valid until the next ReceiveFrames or Uninit.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "fdp/AdapterFailure.h"
#include "fdp/AdapterList.h"
#include "fdp/AdapterTable.h"
#include "fdp/CandidateScout.h"
#include "fdp/LinkBroker.h"
#include "fdp/LinkWatcher.h"
#include "fdp/PacketDriver.h"
#include "fdp/PacketWire.h"

namespace fdp {

class CPacketSocketDriver : public IPacketDriver {
public:
    // broker: the one main started before giving up its privileges (or why it could not);
    // main keeps its end of the pair to its end. Nothing: a broker of the driver's own.
    explicit CPacketSocketDriver(std::optional<LinkBrokerHandle> broker = std::nullopt);
    ~CPacketSocketDriver() override;
    CPacketSocketDriver(const CPacketSocketDriver&) = delete;
    CPacketSocketDriver& operator=(const CPacketSocketDriver&) = delete;

    // Discovery settings; take effect at the next EnumerateAdapters (the filter after the
    // root: a new root starts with none). The filter is a comma-separated list of names
    // and patterns ("kv*,enx*"); a wireless or virtual adapter carries a login only when
    // it names it.
    void SetSysfsRoot(std::string root) { m_adapters = CAdapterList(std::move(root)); }
    void SetInterfaceFilter(std::string list) { m_adapters.SetInterfaceFilter(std::move(list)); }
    // Before the first Init: this driver opens the packet socket itself instead of
    // starting a broker. For the target's side of a bench only; never in the programs.
    void UseOwnSocket() { m_wire.UseOwnSocket(); }
    // Pinned, the adapter in use stays so: scouting asked for later is not started, so a
    // session that listens again never moves the adapter that other sessions are logged
    // in on. For a production line, once its adapter is chosen.
    void PinAdapter();
    // Sends the broker refused since Init (it refuses only what this driver never asks).
    unsigned RefusedSends() const { return m_wire.RefusedSends(); }

    int Init(void* unused) override;
    int Uninit() override;
    int EnumerateAdapters() override;
    int OpenAdapter(std::uint16_t index) override;
    int CloseAdapter(std::uint16_t index) override;
    int GetLocalAddress(std::uint8_t* address) override;
    std::string GetAdapterDescription(int index) override;
    std::string GetAdapterName(int index) override;
    int IsEthernet(int index) override;
    int SendFrame(const std::uint8_t* destination, const std::uint8_t* payload,
                  std::uint16_t length) override;
    const std::uint8_t* ReceiveFrames(std::uint32_t& count) override;
    int IsLinkFrame(const std::uint8_t* frame) override;
    void WakeReceiver() override;
    std::string LastError() const override;
    void SetScouting(bool on) override;
    int OpenIndex() const override;
    std::string TakeNotice() override;
    std::string TakeAdapterLost() override;
    std::vector<HeardAnnounce> TakeAnnouncers() override;

    // Read time-out of ReceiveFrames in milliseconds.
    static constexpr int kReadTimeoutMs = 1000;

private:
    // Frames one read of the wire may deliver. Each lands in a slot of the receive buffer
    // with room for a capture header in front of it; the header of a kept frame is
    // written just before it afterwards, so no frame is ever copied. 32 slots keep the
    // distance from a record's start to its frame within the header's 16-bit length.
    static constexpr std::size_t kBatch = 32;
    static_assert(kBatch <= CPacketWire::kMaxBatch);
    static constexpr std::size_t kSlotLen = kCaptureHeaderLen + CPacketWire::kSnapLen;

    // Whether a frame read from the wire is the link's: on the adapter in use (the hot
    // path: two comparisons), or the first announce on another candidate while scouting,
    // which moves the link there.
    bool Accept(const BrokerHeader& from, const std::uint8_t* frame, std::size_t length);
    bool MoveToLocked(int row);
    // Reads what the wire holds into the receive buffer; returns the bytes of records.
    std::size_t ReadFramesLocked();
    // Reads the rtnetlink messages waiting and brings the table up to date.
    void ReadLinkChanges();
    void CloseLocked();
    void DrainSocket();
    // The adapter in use can no longer be reached (deleted, or the broker ended).
    void LostLocked(std::string name);

    CAdapterList m_adapters;

    mutable std::mutex m_lock;   // everything below but the descriptors' own calls
    CPacketWire m_wire;
    CLinkWatcher m_watcher;
    CAdapterTable m_table{m_adapters};
    CCandidateScout m_scout;
    CAdapterFailure m_failure;
    MacAddress m_localAddress{};
    std::vector<std::uint8_t> m_sendBuffer;
    std::vector<std::uint8_t> m_receiveBuffer;
    std::string m_lost;          // the adapter in use, lost since the last TakeAdapterLost
    std::atomic<bool> m_hasLost{false};
    bool m_pinned = false;

    int m_wakeFd = -1;           // eventfd: WakeReceiver writes, ReceiveFrames drains
};

}  // namespace fdp
