#include "fdp/LinkBroker.h"

#include <arpa/inet.h>
#include <linux/capability.h>
#include <linux/filter.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <csignal>
#include <cstring>

namespace fdp {

namespace {

constexpr int kKernelBufferLen = 524288;
// Messages one recvmmsg or sendmmsg moves, each way.
constexpr unsigned kBatch = 32;

// Passes frames whose EtherType field (bytes 12 and 13) is the link's, whole; drops the
// rest in the kernel. Locked after it is attached, so not even the socket's holder can
// take it off.
bool AttachLinkFilter(int fd) {
    sock_filter code[] = {
        {BPF_LD | BPF_H | BPF_ABS, 0, 0, 12},
        {BPF_JMP | BPF_JEQ | BPF_K, 0, 1, FDP_ETHERTYPE},
        {BPF_RET | BPF_K, 0, 0, 0x40000},
        {BPF_RET | BPF_K, 0, 0, 0},
    };
    sock_fprog program{static_cast<unsigned short>(sizeof code / sizeof code[0]), code};
    if (::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) != 0) return false;
    const int one = 1;
    return ::setsockopt(fd, SOL_SOCKET, SO_LOCK_FILTER, &one, sizeof one) == 0;
}

// Everything below runs in the broker after the fork: system calls only, buffers of
// static storage, no allocation, no lock, no library state.

// A message on the pair as it lies in memory: the header, then the frame.
struct Slot {
    BrokerHeader header;
    std::uint8_t frame[kBrokerSnapLen];
};
static_assert(offsetof(Slot, frame) == sizeof(BrokerHeader));

Slot g_slots[kBatch];
mmsghdr g_messages[kBatch];
iovec g_vectors[kBatch];
sockaddr_ll g_addresses[kBatch];
BrokerHeader g_refusals[kBatch];

[[noreturn]] void EndBroker() { ::_exit(0); }

void DropEveryCapability() {
    ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capset, &header, none) != 0) EndBroker();   // never serve with a capability
}

// Closes every descriptor but the two the broker serves.
void CloseAllBut(int a, int b) {
    const unsigned low = static_cast<unsigned>(a < b ? a : b), high = static_cast<unsigned>(a < b ? b : a);
    if (low > 0) ::syscall(SYS_close_range, 0u, low - 1, 0u);
    if (high > low + 1) ::syscall(SYS_close_range, low + 1, high - 1, 0u);
    ::syscall(SYS_close_range, high + 1, ~0u, 0u);
}

// The interface's own Ethernet address; false when there is no such interface or it is
// not Ethernet. Asked at each send: an address may change, an index is never reused.
bool OwnAddress(int socket, std::uint32_t ifindex, std::uint8_t* address) {
    ifreq request{};
    request.ifr_ifindex = static_cast<int>(ifindex);
    if (ifindex == 0 || ::ioctl(socket, SIOCGIFNAME, &request) != 0) return false;
    if (::ioctl(socket, SIOCGIFHWADDR, &request) != 0 || request.ifr_hwaddr.sa_family != ARPHRD_ETHER) return false;
    std::memcpy(address, request.ifr_hwaddr.sa_data, kEthAddrLen);
    return true;
}

// 0 when the request may go out, else the refusal.
std::uint8_t CheckSend(int socket, const mmsghdr& message, const Slot& slot) {
    const std::size_t received = message.msg_len;
    if ((message.msg_hdr.msg_flags & MSG_TRUNC) || received > sizeof(BrokerHeader) + kBrokerMaxFrame)
        return RefusedLength;
    if (received < sizeof(BrokerHeader) || slot.header.kind != BrokerSend ||
        slot.header.length != received - sizeof(BrokerHeader))
        return RefusedMalformed;
    if (slot.header.length < kBrokerMinFrame) return RefusedLength;
    if (slot.frame[12] != (FDP_ETHERTYPE >> 8) || slot.frame[13] != (FDP_ETHERTYPE & 0xff)) return RefusedEtherType;
    std::uint8_t own[kEthAddrLen];
    if (!OwnAddress(socket, slot.header.ifindex, own)) return RefusedInterface;
    if (std::memcmp(slot.frame + kEthAddrLen, own, kEthAddrLen) != 0) return RefusedSource;
    return 0;
}

// Frames from the wire to the program. A program that does not keep up loses frames.
void PassUp(int socket, int pair) {
    for (unsigned i = 0; i < kBatch; ++i) {
        g_vectors[i] = {g_slots[i].frame, kBrokerSnapLen};
        g_messages[i].msg_hdr = {};
        g_messages[i].msg_hdr.msg_name = &g_addresses[i];
        g_messages[i].msg_hdr.msg_namelen = sizeof g_addresses[i];
        g_messages[i].msg_hdr.msg_iov = &g_vectors[i];
        g_messages[i].msg_hdr.msg_iovlen = 1;
    }
    const int got = ::recvmmsg(socket, g_messages, kBatch, MSG_DONTWAIT, nullptr);
    if (got <= 0) return;
    unsigned kept = 0;
    for (unsigned i = 0; i < static_cast<unsigned>(got); ++i) {
        const std::size_t length = g_messages[i].msg_len;
        if ((g_messages[i].msg_hdr.msg_flags & MSG_TRUNC) || length > kBrokerSnapLen) continue;
        BrokerHeader& header = g_slots[i].header;
        header = {};
        header.ifindex = static_cast<std::uint32_t>(g_addresses[i].sll_ifindex);
        header.length = static_cast<std::uint16_t>(length);
        header.kind = BrokerFrame;
        header.detail = g_addresses[i].sll_pkttype;
        // Reuses the message array: entry `kept` never runs ahead of entry i.
        g_vectors[kept] = {&g_slots[i], sizeof(BrokerHeader) + length};
        g_messages[kept].msg_hdr = {};
        g_messages[kept].msg_hdr.msg_iov = &g_vectors[kept];
        g_messages[kept].msg_hdr.msg_iovlen = 1;
        ++kept;
    }
    if (kept == 0) return;
    if (::sendmmsg(pair, g_messages, kept, MSG_DONTWAIT | MSG_NOSIGNAL) < 0 && errno == EPIPE) EndBroker();
}

// Requests from the program to the wire, each checked first. Returns false at the end of
// the pair: the program is gone.
bool PassDown(int socket, int pair) {
    for (unsigned i = 0; i < kBatch; ++i) {
        g_vectors[i] = {&g_slots[i], sizeof g_slots[i]};
        g_messages[i].msg_hdr = {};
        g_messages[i].msg_hdr.msg_iov = &g_vectors[i];
        g_messages[i].msg_hdr.msg_iovlen = 1;
    }
    const int got = ::recvmmsg(pair, g_messages, kBatch, MSG_DONTWAIT, nullptr);
    if (got < 0) return errno == EAGAIN || errno == EINTR;
    if (got == 0) return false;
    unsigned refused = 0;
    for (unsigned i = 0; i < static_cast<unsigned>(got); ++i) {
        // A message of no bytes is the pair's end (the program closed it).
        if (g_messages[i].msg_len == 0 && !(g_messages[i].msg_hdr.msg_flags & MSG_TRUNC)) return false;
        Slot& slot = g_slots[i];
        if (const std::uint8_t why = CheckSend(socket, g_messages[i], slot)) {
            g_refusals[refused++] = {slot.header.ifindex, 0, BrokerRefused, why};
            continue;
        }
        sockaddr_ll to{};
        to.sll_family = AF_PACKET;
        to.sll_protocol = htons(FDP_ETHERTYPE);
        to.sll_ifindex = static_cast<int>(slot.header.ifindex);
        to.sll_halen = kEthAddrLen;
        std::memcpy(to.sll_addr, slot.frame, kEthAddrLen);
        // A failed send (the interface went down) is like a frame lost on the wire: the
        // link resends or times out.
        ::sendto(socket, slot.frame, slot.header.length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    for (unsigned i = 0; i < refused; ++i)
        if (::send(pair, &g_refusals[i], sizeof g_refusals[i], MSG_DONTWAIT | MSG_NOSIGNAL) < 0 && errno == EPIPE)
            return false;
    return true;
}

[[noreturn]] void Serve(int socket, int pair, pid_t parent, bool onMainThread) {
    if (onMainThread) ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    if (::getppid() != parent) EndBroker();   // the parent ended before the setting took
    // Not to be traced or to have the socket taken out of it by the user's other processes.
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    DropEveryCapability();
    CloseAllBut(socket, pair);
    // Named only now: whoever finds a process by this name finds one that holds nothing
    // but the socket and its pair.
    ::prctl(PR_SET_NAME, "kelvane-link", 0, 0, 0);
    struct sigaction ignore{};
    ignore.sa_handler = SIG_IGN;
    for (const int signal : {SIGINT, SIGQUIT, SIGHUP, SIGTSTP, SIGPIPE}) ::sigaction(signal, &ignore, nullptr);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);

    for (;;) {
        pollfd fds[2] = {{socket, POLLIN, 0}, {pair, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            EndBroker();
        }
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            if (!PassDown(socket, pair)) EndBroker();
        }
        if (fds[0].revents & POLLIN) PassUp(socket, pair);
        if (fds[0].revents & (POLLERR | POLLNVAL)) EndBroker();
    }
}

}  // namespace

int OpenPacketSocket(int& error) {
    const int socket = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(FDP_ETHERTYPE));
    if (socket < 0) {
        error = errno;
        return -1;
    }
    // Bound to one EtherType, the socket is handed only frames that arrive: the frames
    // the machine sends reach every-protocol sockets alone, so ours never come back.
    const int buffer = kKernelBufferLen;
    ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    if (!AttachLinkFilter(socket)) {
        error = errno;
        ::close(socket);
        return -1;
    }
    error = 0;
    return socket;
}

LinkBrokerHandle StartLinkBroker() {
    LinkBrokerHandle handle;
    const int socket = OpenPacketSocket(handle.error);
    if (socket < 0) return handle;
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        handle.error = errno;
        ::close(socket);
        return handle;
    }
    const int buffer = kKernelBufferLen;
    for (const int end : pair) {
        ::setsockopt(end, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
        ::setsockopt(end, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    }
    const pid_t parent = ::getpid();
    const bool onMainThread = ::gettid() == parent;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pair[0]);
        Serve(socket, pair[1], parent, onMainThread);
    }
    const int forkError = errno;
    ::close(socket);
    ::close(pair[1]);
    if (child < 0) {
        ::close(pair[0]);
        handle.error = forkError;
        return handle;
    }
    handle.fd = pair[0];
    handle.pid = child;
    return handle;
}

}  // namespace fdp
