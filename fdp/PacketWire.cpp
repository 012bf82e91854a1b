#include "fdp/PacketWire.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

#include "fdp/DebugTrace.h"
#include "fdp/Frame.h"

namespace fdp {

CPacketWire::~CPacketWire() {
    if (m_fd >= 0) ::close(m_fd);
    EndOwnBroker();
}

// Our own broker ends at the end of its pair anyway; it is ended and reaped here so that
// no process outlives the driver, not even as a zombie.
void CPacketWire::EndOwnBroker() {
    if (m_ownBroker <= 0) return;
    ::kill(m_ownBroker, SIGKILL);
    while (::waitpid(m_ownBroker, nullptr, 0) < 0 && errno == EINTR) {}
    m_ownBroker = -1;
}

void CPacketWire::Open() {
    m_refusedSends = 0;
    if (m_fd < 0 && m_error == 0 && m_useOwnSocket) m_fd = OpenPacketSocket(m_error);
    if (m_fd >= 0 || m_error != 0) return;
    if (m_broker && m_broker->fd >= 0) {
        m_fd = ::fcntl(m_broker->fd, F_DUPFD_CLOEXEC, 0);
        m_error = m_fd < 0 ? errno : 0;
    } else if (m_broker) {
        m_error = m_broker->error;   // main could not start it; nor could we now
    } else {
        const LinkBrokerHandle own = StartLinkBroker();
        m_fd = own.fd;
        m_error = own.error;
        m_ownBroker = own.pid;
    }
}

int CPacketWire::ReadFlags(const std::string& interfaceName, short& flags) const {
    ifreq request{};
    std::strncpy(request.ifr_name, interfaceName.c_str(), IFNAMSIZ - 1);
    if (::ioctl(m_fd, SIOCGIFFLAGS, &request) != 0) return errno;
    flags = request.ifr_flags;
    return 0;
}

void CPacketWire::Drain(int fd) {
    if (fd < 0) return;
    // A message of no bytes is the pair's end: the receiver finds it again and says so.
    std::uint8_t scratch[sizeof(BrokerHeader) + kSnapLen];
    while (::recv(fd, scratch, sizeof scratch, MSG_DONTWAIT | MSG_TRUNC) > 0) {}
}

bool CPacketWire::Send(int ifindex, const std::uint8_t* destination, const std::uint8_t* frame, std::size_t length) {
    if (m_useOwnSocket) {
        sockaddr_ll to{};
        to.sll_family = AF_PACKET;
        to.sll_protocol = htons(FDP_ETHERTYPE);
        to.sll_ifindex = ifindex;
        to.sll_halen = kEthAddrLen;
        std::memcpy(to.sll_addr, destination, kEthAddrLen);
        const ssize_t sent = ::sendto(m_fd, frame, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        return sent == static_cast<ssize_t>(length);
    }
    BrokerHeader header;
    header.ifindex = static_cast<std::uint32_t>(ifindex);
    header.length = static_cast<std::uint16_t>(length);
    header.kind = BrokerSend;
    iovec parts[2] = {{&header, sizeof header}, {const_cast<std::uint8_t*>(frame), length}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = 2;
    // Waits only while the broker's queue is full, which it empties without waiting for us.
    const ssize_t sent = ::sendmsg(m_fd, &message, MSG_NOSIGNAL);
    return sent == static_cast<ssize_t>(sizeof header + length);
}

CPacketWire::Batch CPacketWire::ReadBatch(std::uint8_t* first, std::size_t slots, std::size_t stride) {
    Batch batch;
    // From the broker: its header, then the frame; from our own socket: the frame, and
    // its origin, from which the header is made below.
    for (std::size_t i = 0; i < slots; ++i) {
        std::uint8_t* frame = first + i * stride;
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
    const int got = ::recvmmsg(m_fd, m_messages, static_cast<unsigned>(slots), MSG_DONTWAIT, nullptr);
    if (got < 0 && !m_useOwnSocket && errno != EAGAIN && errno != EINTR) {
        m_brokerGone = true;
        batch.ended = true;
        return batch;
    }
    if (got <= 0) return batch;
    for (std::size_t i = 0; i < static_cast<std::size_t>(got); ++i) {
        m_lengths[i] = 0;
        batch.read = i + 1;
        if (m_messages[i].msg_hdr.msg_flags & MSG_TRUNC) continue;
        std::size_t length = m_messages[i].msg_len;
        BrokerHeader& from = m_headers[i];
        if (m_useOwnSocket) {
            from = {static_cast<std::uint32_t>(m_sources[i].sll_ifindex), static_cast<std::uint16_t>(length),
                    BrokerFrame, m_sources[i].sll_pkttype};
        } else {
            if (length == 0) {   // the pair's end: the broker is gone
                m_brokerGone = true;
                batch.ended = true;
                batch.read = i;
                return batch;
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
        m_lengths[i] = length;
    }
    return batch;
}

}  // namespace fdp
