// The link broker: a small process that holds the packet socket and passes only the
// link's frames, so that the program proper, which loads a toolkit and its plugins,
// never holds a raw socket.
//
// StartLinkBroker opens the packet socket (the one call that needs CAP_NET_RAW),
// attaches a locked kernel filter that passes EtherType 0x0707 only, and forks the
// broker, which keeps the socket; the caller keeps only its end of a socket pair. The
// broker drops every capability, reads no file and no environment, ignores the
// terminal's interrupt keys (the program decides what Ctrl-C means), and ends when its
// parent does (end of file on the pair; PR_SET_PDEATHSIG too when started on the main
// thread, which is the thread the setting is tied to).
//
// On the pair (SOCK_SEQPACKET, one message per frame): a BrokerHeader, then the frame.
//  - up (broker to program): BrokerFrame with every whole frame received, its
//    interface index and packet type; BrokerRefused when a send was refused.
//  - down (program to broker): BrokerSend with a whole frame and the interface to send
//    it on. The broker sends it only when its EtherType is 0x0707, its source address is
//    that interface's own and its length is one the link allows; anything else is
//    refused, counted and answered with BrokerRefused.
// Frames the program does not read in time are dropped, as a network card drops them:
// the broker never waits for the program.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "fdp/FrameCodec.h"

namespace fdp {

enum BrokerKind : std::uint8_t {
    BrokerFrame = 1,
    BrokerSend = 2,
    BrokerRefused = 3,
};

// Why the broker refused a send (BrokerHeader::detail of a BrokerRefused).
enum BrokerRefusal : std::uint8_t {
    RefusedMalformed = 1,     // not a send request, or its length field disagrees
    RefusedLength = 2,        // shorter than a padded frame or longer than the largest
    RefusedEtherType = 3,
    RefusedInterface = 4,     // no such interface, or it has no Ethernet address
    RefusedSource = 5,        // the source is not the interface's own address
};

// Host byte order: both ends are on this machine.
struct BrokerHeader {
    std::uint32_t ifindex = 0;
    std::uint16_t length = 0;   // bytes of frame after the header
    std::uint8_t kind = 0;
    std::uint8_t detail = 0;    // packet type (BrokerFrame), BrokerRefusal (BrokerRefused)
};
static_assert(sizeof(BrokerHeader) == 8);

inline constexpr std::size_t kBrokerMinFrame = kEthHeaderLen + kMinPayload;
inline constexpr std::size_t kBrokerMaxFrame = kMaxFrame;
// Received frames are passed whole up to this length (VLAN tags included).
inline constexpr std::size_t kBrokerSnapLen = 2048;

struct LinkBrokerHandle {
    int fd = -1;      // the program's end of the pair; -1 when no broker runs
    int error = 0;    // errno of the call that failed (EPERM: no CAP_NET_RAW)
    pid_t pid = -1;
};

// The packet socket of the link (needs CAP_NET_RAW), its filter attached and locked;
// -1 and the errno in `error` when it cannot be opened. Close-on-exec, the caller's.
// For the broker, and for a process that plays the target, which reaches the wire itself.
int OpenPacketSocket(int& error);

// Opens the packet socket and starts the broker; the descriptor is close-on-exec and the
// caller's. Safe in a process that runs other threads: after the fork the child makes
// system calls only, with no allocation and no lock.
LinkBrokerHandle StartLinkBroker();

}  // namespace fdp
