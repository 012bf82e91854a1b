// Raw Ethernet access: adapter discovery, open, send and capture of whole frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fdp/CaptureRecord.h"
#include "fdp/FrameCodec.h"

namespace fdp {

// Results of OpenAdapter.
enum OpenResult : int {
    OpenOk = 0,
    OpenBadIndex = 1,
    OpenFailed = 2,          // the adapter cannot be used (gone, down, no packet socket)
    OpenNoSendPacket = 3,
    OpenAlreadyOpen = 4,
    OpenNoReceivePacket = 6,
    OpenNoAddress = 7,
};

inline constexpr int kMaxAdapters = 5;
inline constexpr std::size_t kSendBufferLen = 1500;
inline constexpr std::size_t kReceiveBufferLen = 262144;

// Interface in the order of its operations. Thread use: SendFrame on the engine's
// worker thread, ReceiveFrames and IsLinkFrame on its receiver thread, everything else
// on the thread that owns the engine before or after those two run.
class IPacketDriver {
public:
    virtual ~IPacketDriver() = default;
    virtual int Init(void* unused) = 0;
    virtual int Uninit() = 0;
    virtual int EnumerateAdapters() = 0;
    virtual int OpenAdapter(std::uint16_t index) = 0;
    virtual int CloseAdapter(std::uint16_t index) = 0;
    virtual int GetLocalAddress(std::uint8_t* address) = 0;
    virtual std::string GetAdapterDescription(int index) = 0;
    virtual std::string GetAdapterName(int index) = 0;
    virtual int IsEthernet(int index) = 0;
    // 1 if the frame (destination, own address, 0x0707, payload padded to 46) was sent.
    virtual int SendFrame(const std::uint8_t* destination, const std::uint8_t* payload,
                          std::uint16_t length) = 0;
    // Waits up to the read time-out (one second) for frames; returns the capture
    // records read, valid until the next call, or null with count 0.
    virtual const std::uint8_t* ReceiveFrames(std::uint32_t& count) = 0;
    virtual int IsLinkFrame(const std::uint8_t* frame) = 0;
    // Makes a ReceiveFrames in progress return at once; called when the link stops.
    virtual void WakeReceiver() = 0;
    // Why the last OpenAdapter failed, in words a user can act on, in the language of
    // the string tables; empty otherwise.
    virtual std::string LastError() const = 0;

    // While no target is connected the driver may listen on every candidate adapter, not
    // only the open one, and move to the adapter where the target's announce arrives
    // first (the next one after each SetScouting(true)); the announce is then returned
    // by ReceiveFrames as if it had come in on the open adapter. Off: the open adapter
    // only. Drivers with a single adapter ignore it.
    virtual void SetScouting(bool /*on*/) {}
    // The adapter in use: the one opened last, or the one scouting moved to; -1 when none.
    virtual int OpenIndex() const { return -1; }
    // An announce heard while scouting on a candidate that may carry a login, but not
    // handed on by ReceiveFrames (scouting hands on only the first from another adapter):
    // the link must still know every target and adapter it heard before it logs in.
    struct HeardAnnounce {
        MacAddress source{};
        int adapter = -1;   // the adapter's index
    };
    // The announces heard but not handed on since the last call, each (source, adapter)
    // once; the receiver asks after each read. Drivers with a single adapter: none.
    virtual std::vector<HeardAnnounce> TakeAnnouncers() { return {}; }
    // Something the user should hear of that is no failure (an announce ignored on an
    // adapter that may not carry a login), once; empty when there is nothing new. The
    // receiver asks after each read.
    virtual std::string TakeNotice() { return {}; }
    // The adapter in use was deleted (a USB adapter unplugged, an interface removed):
    // its name, once; empty when nothing went. A link that goes down and up again is no
    // loss. The receiver asks after each read.
    virtual std::string TakeAdapterLost() { return {}; }
};

}  // namespace fdp
