// The packet driver on libpcap. The library is loaded at run time ("libpcap.so.1", then
// "libpcap.so.0.8") and its functions looked up by name, so the program starts, and
// shows what is wrong, on a machine without it.
//
// Threads: SendFrame (worker) and ReceiveFrames (receiver) may run at the same time;
// both take the handle lock only for the moment they touch the capture handle, never
// while ReceiveFrames waits. OpenAdapter, CloseAdapter and Uninit wake a waiting
// ReceiveFrames before they change the handle, so they never wait for a read time-out.
// The records returned by ReceiveFrames stay valid until the next ReceiveFrames,
// CloseAdapter or Uninit.
//
// Scouting (SetScouting): besides the open adapter, one capture per other candidate,
// each with the same filter, and an rtnetlink socket that tells of interfaces that
// appear or come up, which join the candidates. ReceiveFrames waits on all of them in
// one poll, so listening on many adapters costs nothing while nothing arrives.
#pragma once

#include <poll.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fdp/AdapterList.h"
#include "fdp/PacketDriver.h"

struct pcap;

namespace fdp {

class CPacketDriver : public IPacketDriver {
public:
    CPacketDriver();
    ~CPacketDriver() override;
    CPacketDriver(const CPacketDriver&) = delete;
    CPacketDriver& operator=(const CPacketDriver&) = delete;

    // Discovery settings; take effect at the next EnumerateAdapters.
    void SetSysfsRoot(std::string root) { m_adapters = CAdapterList(std::move(root)); }
    void SetInterfaceFilter(std::string name) { m_adapters.SetInterfaceFilter(std::move(name)); }

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

    // Read time-out of ReceiveFrames in milliseconds.
    static constexpr int kReadTimeoutMs = 1000;
    // Candidates at most: the five of discovery, then late arrivals.
    static constexpr std::size_t kMaxCandidates = 16;

private:
    struct Api;

    bool LoadLibrary();
    void UnloadLibrary();
    // A capture on one interface, made ready for polling.
    struct Capture {
        pcap* handle = nullptr;
        int fd = -1;
    };
    struct Watch {
        std::size_t index = 0;   // row of the adapter table
        Capture capture;
    };

    int OpenHandle(const std::string& name, Capture& capture);
    void CloseHandleLocked();
    void CloseWatchLocked(std::size_t position);
    // Scouting on: a watch on every candidate but the open one (those that open) and the
    // rtnetlink socket. Off: neither.
    void SyncWatchesLocked();
    // Reads the rtnetlink messages waiting and lets interfaces that came up join.
    void ReadLinkChanges();
    // Reads every frame waiting on a handle into the receive buffer after `used`; false
    // when the handle failed.
    bool DispatchInto(pcap* handle, std::size_t& used);
    // Makes the watched adapter at this position the open one; the open one is watched.
    bool PromoteLocked(std::size_t position);
    // Records why the last discovery or open failed: a text id and its words, so that
    // LastError speaks the user's language. The Locked form runs under m_lock.
    void SetFailure(unsigned textId, std::vector<std::string> words);
    void SetFailureLocked(unsigned textId, std::vector<std::string> words);

    CAdapterList m_adapters;
    std::vector<AdapterEntry> m_table;

    std::unique_ptr<Api> m_api;          // set while the library is loaded
    void* m_library = nullptr;

    mutable std::mutex m_lock;           // handle, buffers, generation, last error
    pcap* m_handle = nullptr;
    int m_selectableFd = -1;
    unsigned m_generation = 0;           // changes whenever the handle is closed
    int m_openIndex = -1;
    MacAddress m_localAddress{};
    std::vector<std::uint8_t> m_sendBuffer;
    std::vector<std::uint8_t> m_receiveBuffer;
    unsigned m_failureId = 0;            // 0: no failure
    std::vector<std::string> m_failureWords;

    bool m_scouting = false;
    bool m_moveOnAnnounce = false;       // no announce seen since scouting was (re)started
    std::vector<Watch> m_watches;
    int m_linkFd = -1;                   // rtnetlink, link changes; open while scouting
    std::vector<pollfd> m_pollSet;       // ReceiveFrames' own, kept between its calls

    int m_wakeFd = -1;                   // eventfd: WakeReceiver writes, ReceiveFrames drains
};

}  // namespace fdp
