// The packet driver on one Linux packet socket (AF_PACKET, SOCK_RAW, EtherType 0x0707)
// that is bound to no interface: it hears the link's frames on every interface of the
// host, those that appear later included, and the kernel tells for each frame the
// interface it came in on. Frames go out with sendto naming the interface in use.
//
// Privilege: creating the socket needs CAP_NET_RAW, using it does not. The programs
// open it first thing in main (OpenSocket), hand it over with SetProcessSocket and then
// give up every capability; each driver made later works on a duplicate of it. A driver
// in a process that handed none over (the simulator, the benchmark, tests) opens its own
// at Init.
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

#include <linux/if_packet.h>
#include <sys/socket.h>

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "fdp/AdapterList.h"
#include "fdp/PacketDriver.h"

namespace fdp {

class CPacketSocketDriver : public IPacketDriver {
public:
    // A packet socket as OpenSocket made it: the descriptor, or -1 and the errno of the
    // failed socket call.
    struct OpenedSocket {
        int fd = -1;
        int error = 0;
    };

    // The one call that needs CAP_NET_RAW. Close-on-exec; the caller owns the descriptor.
    static OpenedSocket OpenSocket();
    // The socket main opened before giving up its privileges (or why it could not), for
    // every driver of this process; the process keeps the descriptor to its end.
    static void SetProcessSocket(OpenedSocket socket);

    CPacketSocketDriver();
    ~CPacketSocketDriver() override;
    CPacketSocketDriver(const CPacketSocketDriver&) = delete;
    CPacketSocketDriver& operator=(const CPacketSocketDriver&) = delete;

    // Discovery settings; take effect at the next EnumerateAdapters. A wireless adapter
    // carries a login only when it is the interface named here.
    void SetSysfsRoot(std::string root) { m_adapters = CAdapterList(std::move(root)); }
    void SetInterfaceFilter(std::string name) { m_adapters.SetInterfaceFilter(std::move(name)); }
    // Uses this socket (the driver owns it from now on) instead of opening one at Init.
    void AdoptSocket(OpenedSocket socket);

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

    // Read time-out of ReceiveFrames in milliseconds.
    static constexpr int kReadTimeoutMs = 1000;
    // Rows at most: the five of discovery, then late arrivals; a full table gives the
    // rows of interfaces that are gone to newcomers.
    static constexpr std::size_t kMaxCandidates = 32;

private:
    // Frames one recvmmsg may deliver. Each lands in a slot of the receive buffer with
    // room for a capture header in front of it; the header of a kept frame is written
    // just before it afterwards, so no frame is ever copied. 32 slots keep the distance
    // from a record's start to its frame within the header's 16-bit length.
    static constexpr std::size_t kBatch = 32;
    static constexpr std::size_t kSnapLen = 2048;   // whole frames, VLAN tags included
    static constexpr std::size_t kSlotLen = kCaptureHeaderLen + kSnapLen;

    // Whether a frame read from the socket is the link's: on the adapter in use (the hot
    // path: two comparisons), or the first announce on another candidate while scouting.
    bool Accept(const sockaddr_ll& from, const std::uint8_t* frame, std::size_t length);
    bool AcceptElsewhere(int ifindex, const std::uint8_t* frame, std::size_t length);
    // Reads what the socket holds into the receive buffer; returns the bytes of records.
    std::size_t ReadFramesLocked();
    // Reads the rtnetlink messages waiting and brings the table up to date.
    void ReadLinkChanges();
    // The row of this interface (added when it is new and an Ethernet candidate); -1.
    int RowForIfindexLocked(int ifindex);
    int AddRowLocked(AdapterEntry entry);
    // May announces on this row be taken? Not from Wi-Fi unless the user named it.
    bool MayCarryLoginLocked(std::size_t row) const;
    // The ifindex the link's frames come in on: the chosen row's, 0 when none or when
    // the chosen row may not carry a login.
    void UpdateLinkIfindexLocked();
    // Says once per interface that its announce was ignored.
    void NoteIgnoredLocked(const std::string& name);
    void CloseLocked();
    void DrainSocket();
    void SetFailureLocked(unsigned textId, std::vector<std::string> words);
    void SetFailure(unsigned textId, std::vector<std::string> words);

    CAdapterList m_adapters;

    mutable std::mutex m_lock;   // everything below but the descriptors' own calls
    std::vector<AdapterEntry> m_table;
    int m_socket = -1;
    int m_socketError = 0;       // why there is no socket
    bool m_adopted = false;      // a socket (or the failure to open one) was handed over
    int m_openIndex = -1;
    int m_linkIfindex = 0;
    MacAddress m_localAddress{};
    std::vector<std::uint8_t> m_sendBuffer;
    std::vector<std::uint8_t> m_receiveBuffer;
    unsigned m_failureId = 0;    // 0: no failure
    std::vector<std::string> m_failureWords;

    bool m_scouting = false;
    bool m_moveOnAnnounce = false;   // no announce seen since scouting was (re)started
    std::set<std::string> m_ignoredSaid;
    std::string m_notice;
    std::atomic<bool> m_hasNotice{false};
    std::string m_lost;          // the adapter in use, deleted since the last TakeAdapterLost
    std::atomic<bool> m_hasLost{false};

    int m_linkFd = -1;           // rtnetlink, link changes
    int m_wakeFd = -1;           // eventfd: WakeReceiver writes, ReceiveFrames drains

    // recvmmsg's arrays, kept between reads.
    mmsghdr m_messages[kBatch]{};
    iovec m_vectors[kBatch]{};
    sockaddr_ll m_sources[kBatch]{};
};

}  // namespace fdp
