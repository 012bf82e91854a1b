// A Qt style plugin that, when Qt loads it, reports to the file named by
// KELVANE_CAPS_PROBE what code a user slips into the wizard (through QT_PLUGIN_PATH, as
// any local user could) would find in its process: the CapEff and CapPrm lines of
// /proc/self/status, and every packet socket among the process's descriptors, with
// whether one of them sends or receives a frame of another EtherType than the link's.
// Then it hands out the Fusion style. The package test expects no capability and no
// packet socket that serves another EtherType.
//
// The lines written:
//   CapEff: ..., CapPrm: ...   as the kernel shows them
//   PacketSockets: N           AF_PACKET sockets found among the descriptors
//   ForeignSend: yes|no        an IPv4 frame (0x0800) went out through one of them
//   ForeignReceive: yes|no     a frame of another EtherType than 0x0707 came in on one,
//                              read for a while after binding it to every protocol
#include <QStyleFactory>
#include <QStylePlugin>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr std::uint16_t kLinkType = 0x0707;
constexpr std::uint16_t kForeignType = 0x0800;   // IPv4
// How long each socket is read while the test puts IPv4 frames on the wire.
constexpr auto kListen = std::chrono::milliseconds(1500);

struct PacketProbe {
    int sockets = 0;
    bool sent = false;
    bool received = false;
};

std::vector<int> PacketSockets() {
    std::vector<int> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        const std::string name = entry.path().filename().string();
        char* end = nullptr;
        const long fd = std::strtol(name.c_str(), &end, 10);
        if (*end != '\0') continue;
        int domain = 0;
        socklen_t length = sizeof domain;
        if (::getsockopt(static_cast<int>(fd), SOL_SOCKET, SO_DOMAIN, &domain, &length) == 0 && domain == AF_PACKET)
            found.push_back(static_cast<int>(fd));
    }
    return found;
}

// An IPv4 frame to everyone on every interface, as a raw or a cooked socket takes it.
bool SendForeign(int fd) {
    int type = 0;
    socklen_t length = sizeof type;
    ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length);
    std::array<std::uint8_t, 60> frame{};
    std::memset(frame.data(), 0xFF, 6);                                         // to everyone
    const std::uint8_t source[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x99};       // not the adapter's
    std::memcpy(frame.data() + 6, source, 6);
    frame[12] = kForeignType >> 8;
    frame[13] = kForeignType & 0xFF;
    std::memcpy(frame.data() + 14, "kelvane caps probe", 18);
    const bool raw = type == SOCK_RAW;
    const std::uint8_t* bytes = raw ? frame.data() : frame.data() + 14;
    const std::size_t size = raw ? frame.size() : frame.size() - 14;
    bool sent = false;
    // A socket bound to an interface sends without an address.
    if (::send(fd, bytes, size, MSG_DONTWAIT) == static_cast<ssize_t>(size)) sent = true;
    if (struct if_nameindex* names = ::if_nameindex()) {
        for (const struct if_nameindex* name = names; name->if_index != 0; ++name) {
            sockaddr_ll to{};
            to.sll_family = AF_PACKET;
            to.sll_ifindex = static_cast<int>(name->if_index);
            to.sll_protocol = htons(kForeignType);
            to.sll_halen = 6;
            std::memset(to.sll_addr, 0xFF, 6);
            if (::sendto(fd, bytes, size, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
                static_cast<ssize_t>(size))
                sent = true;
        }
        ::if_freenameindex(names);
    }
    return sent;
}

// Binds the socket to every protocol on every interface (its own binding is put back
// afterwards) and reads for a while; true when a frame of another EtherType came in.
bool ReceiveForeign(int fd) {
    sockaddr_ll own{};
    socklen_t ownLength = sizeof own;
    const bool bound = ::getsockname(fd, reinterpret_cast<sockaddr*>(&own), &ownLength) == 0;
    sockaddr_ll all{};
    all.sll_family = AF_PACKET;
    all.sll_protocol = htons(ETH_P_ALL);
    ::bind(fd, reinterpret_cast<const sockaddr*>(&all), sizeof all);   // refused or not, the reads tell
    bool received = false;
    const auto end = std::chrono::steady_clock::now() + kListen;
    std::array<std::uint8_t, 2048> buffer{};
    while (!received && std::chrono::steady_clock::now() < end) {
        pollfd wait{fd, POLLIN, 0};
        if (::poll(&wait, 1, 50) <= 0) continue;
        sockaddr_ll from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        // Off the wire: not a copy of a frame this process sent.
        if (n >= 0 && from.sll_pkttype != PACKET_OUTGOING && ntohs(from.sll_protocol) != kLinkType) received = true;
    }
    if (bound) ::bind(fd, reinterpret_cast<const sockaddr*>(&own), ownLength);
    return received;
}

PacketProbe ProbePacketSockets() {
    PacketProbe probe;
    for (const int fd : PacketSockets()) {
        ++probe.sockets;
        probe.sent = SendForeign(fd) || probe.sent;
        probe.received = ReceiveForeign(fd) || probe.received;
    }
    return probe;
}

}  // namespace

class CapsProbeStyle : public QStylePlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QStyleFactoryInterface_iid FILE "CapsProbeStyle.json")
public:
    QStyle* create(const QString& key) override {
        if (key.compare(QLatin1String("capsprobe"), Qt::CaseInsensitive) != 0) return nullptr;
        if (const char* out = std::getenv("KELVANE_CAPS_PROBE")) {
            std::ifstream status("/proc/self/status");
            std::string caps;
            for (std::string line; std::getline(status, line);)
                if (line.rfind("CapEff:", 0) == 0 || line.rfind("CapPrm:", 0) == 0) caps += line + '\n';
            const PacketProbe probe = ProbePacketSockets();
            // Written once the probe is done: the test waits for the file.
            std::ofstream file(out, std::ios::trunc);
            file << caps << "PacketSockets: " << probe.sockets << '\n'
                 << "ForeignSend: " << (probe.sent ? "yes" : "no") << '\n'
                 << "ForeignReceive: " << (probe.received ? "yes" : "no") << '\n';
        }
        return QStyleFactory::create(QStringLiteral("Fusion"));
    }
};

#include "CapsProbeStyle.moc"
