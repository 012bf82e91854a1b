// The packet driver's end of the wire: its end of the link broker's socket pair
// (LinkBroker.h), or, for a process that plays the target, a packet socket of its own.
// It sends whole frames on an interface and reads frames in batches, each with the
// interface it came in on.
//
// Which one: the broker main started before giving up its privileges, handed to the
// constructor (one wire at a time uses it); given none (the benchmark, tests), a broker
// of its own, ended with the wire; with UseOwnSocket,
// the packet socket itself, as a device that has no broker reaches its wire directly.
//
// Threads: none of its own; the driver calls it under its lock, but for Drain and the
// poll of Readable(), which touch only the descriptor.
#pragma once

#include <linux/if_packet.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "fdp/LinkBroker.h"

namespace fdp {

class CPacketWire {
public:
    // broker: the one main started (or why it could not), used through a duplicate of its
    // end; main keeps its own to its end. Nothing: a broker of the wire's own.
    explicit CPacketWire(std::optional<LinkBrokerHandle> broker = std::nullopt) : m_broker(broker) {}
    ~CPacketWire();
    CPacketWire(const CPacketWire&) = delete;
    CPacketWire& operator=(const CPacketWire&) = delete;

    // Before the first Open: the packet socket itself instead of a broker.
    void UseOwnSocket() { m_useOwnSocket = true; }
    // Gets the wire at the first call; later calls keep what the first got, a failure
    // too. Refused sends are counted from here.
    void Open();

    // Frames can be sent and read: there is a wire and its broker has not ended.
    bool Usable() const { return m_fd >= 0 && !m_brokerGone; }
    // What to poll and read; -1 when there is nothing to read any more.
    int Readable() const { return m_brokerGone ? -1 : m_fd; }
    // Why the wire is not usable, as an errno (EPIPE: the broker ended).
    int Error() const { return m_brokerGone ? EPIPE : m_error; }
    // The interface's flags (any socket answers, no privilege is needed); 0 or an errno.
    int ReadFlags(const std::string& interfaceName, short& flags) const;
    // Sends one whole frame on this interface; true when it went to the socket or broker.
    bool Send(int ifindex, const std::uint8_t* destination, const std::uint8_t* frame, std::size_t length);
    // Sends the broker refused since Open (it refuses only what the driver never asks).
    unsigned RefusedSends() const { return m_refusedSends.load(std::memory_order_relaxed); }

    // Discards whatever waits on this descriptor (Readable()), without waiting.
    static void Drain(int fd);

    // Frames one ReadBatch may read.
    static constexpr std::size_t kMaxBatch = 32;
    // The longest frame read whole.
    static constexpr std::size_t kSnapLen = kBrokerSnapLen;

    struct Batch {
        std::size_t read = 0;   // messages read, Length/From tell which are frames
        bool ended = false;     // the broker ended now: nothing more will come
    };
    // Reads what is waiting, without waiting: up to `slots` (at most kMaxBatch) frames,
    // the i-th into first + i * stride, kSnapLen bytes at most.
    Batch ReadBatch(std::uint8_t* first, std::size_t slots, std::size_t stride);
    // The i-th message of the last batch: the length of its frame, 0 when it is no whole
    // frame (cut short, a refusal, malformed); where the frame came from.
    std::size_t Length(std::size_t i) const { return m_lengths[i]; }
    const BrokerHeader& From(std::size_t i) const { return m_headers[i]; }

private:
    void EndOwnBroker();

    int m_fd = -1;             // our end of the broker's pair, or our own packet socket
    int m_error = 0;           // why there is neither
    bool m_brokerGone = false;
    pid_t m_ownBroker = -1;    // a broker this wire started
    bool m_useOwnSocket = false;
    std::optional<LinkBrokerHandle> m_broker;
    std::atomic<unsigned> m_refusedSends{0};

    // recvmmsg's arrays, kept between reads: the broker's header, then the frame.
    mmsghdr m_messages[kMaxBatch]{};
    iovec m_vectors[kMaxBatch][2]{};
    BrokerHeader m_headers[kMaxBatch]{};
    sockaddr_ll m_sources[kMaxBatch]{};   // own socket: where each frame came from
    std::size_t m_lengths[kMaxBatch]{};
};

}  // namespace fdp
