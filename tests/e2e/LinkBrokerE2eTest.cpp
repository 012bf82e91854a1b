// The link broker on the bench: what it refuses to send, what it never passes up, and
// how its end and its parent's end are felt. Requests are written to the broker's pair
// by hand, byte by byte, as a plugin in the program could write them; what reaches the
// wire is watched from the target's namespace with a socket that sees every EtherType.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fdp/LinkBroker.h"
#include "tests/e2e/Bench.h"
#include "tests/e2e/LinkFixture.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kPeer[6] = {0x02, 0x4b, 0x56, 0x00, 0x00, 0x02};

// The message on the pair: interface index (host order, 4 bytes), frame length (2),
// kind (1: frame up, 2: send down, 3: refused), detail (packet type or refusal).
Bytes Request(std::uint32_t ifindex, const Bytes& frame, std::uint8_t kind = 2, std::optional<std::uint16_t> length = {}) {
    Bytes message(8 + frame.size(), 0);
    std::memcpy(message.data(), &ifindex, 4);
    const std::uint16_t declared = length.value_or(static_cast<std::uint16_t>(frame.size()));
    std::memcpy(message.data() + 4, &declared, 2);
    message[6] = kind;
    for (std::size_t i = 0; i < frame.size(); ++i) message[8 + i] = frame[i];
    return message;
}

// A frame of `size` bytes from `source`, EtherType given, marker at byte 15.
Bytes Frame(const std::uint8_t* source, std::uint16_t etherType, std::uint8_t marker, std::size_t size = 60) {
    Bytes frame(size, 0);
    std::memcpy(frame.data(), kPeer, 6);
    std::memcpy(frame.data() + 6, source, 6);
    frame[12] = static_cast<std::uint8_t>(etherType >> 8);
    frame[13] = static_cast<std::uint8_t>(etherType);
    frame[14] = 0x51;
    frame[15] = marker;
    return frame;
}

bool OwnAddress(const char* name, std::uint8_t* address) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, name, IFNAMSIZ - 1);
    const bool ok = fd >= 0 && ::ioctl(fd, SIOCGIFHWADDR, &request) == 0;
    if (ok) std::memcpy(address, request.ifr_hwaddr.sa_data, 6);
    if (fd >= 0) ::close(fd);
    return ok;
}

// Watches the target's end of the wire for every EtherType from a child in its
// namespace; Markers() ends the watch and gives byte 15 of each frame from `source`.
class WireWatch {
public:
    WireWatch(const std::uint8_t* source, std::chrono::milliseconds length) {
        std::memcpy(m_source, source, 6);
        int fds[2];
        if (::pipe(fds) != 0) return;
        m_child = ::fork();
        if (m_child == 0) {
            ::close(fds[0]);
            const int ns = ::open(("/run/netns/" + NapNamespace()).c_str(), O_RDONLY | O_CLOEXEC);
            if (ns < 0 || ::setns(ns, CLONE_NEWNET) != 0) ::_exit(1);
            const int fd = ::socket(AF_PACKET, SOCK_RAW, htons(0x0003));   // ETH_P_ALL
            if (fd < 0) ::_exit(2);
            if (::write(fds[1], "r", 1) != 1) ::_exit(3);   // watching
            const auto end = Clock::now() + length;
            std::uint8_t frame[2048];
            while (Clock::now() < end) {
                pollfd p{fd, POLLIN, 0};
                if (::poll(&p, 1, 50) <= 0) continue;
                const ssize_t n = ::recv(fd, frame, sizeof frame, 0);
                if (n >= 16 && std::memcmp(frame + 6, m_source, 6) == 0 && ::write(fds[1], frame + 15, 1) != 1) ::_exit(4);
            }
            ::_exit(0);
        }
        ::close(fds[1]);
        m_pipe = fds[0];
        char ready = 0;
        if (::read(m_pipe, &ready, 1) != 1) m_child = -1;
    }
    ~WireWatch() { Markers(); }
    bool Watching() const { return m_child > 0; }

    std::multiset<int> Markers() {
        if (m_child > 0) {
            std::uint8_t marker;
            while (::read(m_pipe, &marker, 1) == 1) m_markers.insert(marker);
            ::waitpid(m_child, nullptr, 0);
            m_child = -1;
        }
        if (m_pipe >= 0) ::close(m_pipe);
        m_pipe = -1;
        return m_markers;
    }

private:
    pid_t m_child = -1;
    int m_pipe = -1;
    std::uint8_t m_source[6]{};
    std::multiset<int> m_markers;
};

// The next message from the broker within the time, or nothing.
std::optional<Bytes> NextMessage(int pair, std::chrono::milliseconds within) {
    pollfd p{pair, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(within.count())) <= 0) return std::nullopt;
    Bytes message(8 + 2048);
    const ssize_t n = ::recv(pair, message.data(), message.size(), MSG_DONTWAIT);
    if (n <= 0) return std::nullopt;
    message.resize(static_cast<std::size_t>(n));
    return message;
}

bool Zombie(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text)) return false;
    const auto close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z';
}

bool Ended(pid_t pid) {
    if (::waitpid(pid, nullptr, WNOHANG) == pid) return true;   // our child, reaped now
    if (!Zombie(pid)) return !std::ifstream("/proc/" + std::to_string(pid) + "/stat");
    // Ended but not reaped: reap it if it is ours, or the next test's search by name
    // finds it among our children.
    ::waitpid(pid, nullptr, WNOHANG);
    return true;
}

bool EndsWithin(pid_t pid, std::chrono::milliseconds within) {
    const auto deadline = Clock::now() + within;
    while (!Ended(pid)) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// The pid of the broker a process started: its child named kelvane-link.
std::optional<pid_t> BrokerOf(pid_t parent, std::chrono::milliseconds within = 5s) {
    const auto deadline = Clock::now() + within;
    do {
        std::ifstream children("/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) + "/children");
        for (pid_t child; children >> child;) {
            std::ifstream comm("/proc/" + std::to_string(child) + "/comm");
            std::string name;
            if (std::getline(comm, name) && name == "kelvane-link" && !Zombie(child)) return child;
        }
        std::this_thread::sleep_for(20ms);
    } while (Clock::now() < deadline);
    return std::nullopt;
}

class LinkBrokerE2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        KELVANE_NEED_BENCH();
        broker = fdp::StartLinkBroker();
        ASSERT_GE(broker.fd, 0) << std::strerror(broker.error);
        ifindex = ::if_nametoindex(kPcInterface);
        ASSERT_NE(ifindex, 0u);
        ASSERT_TRUE(OwnAddress(kPcInterface, own));
    }
    void TearDown() override {
        if (broker.fd >= 0) ::close(broker.fd);
        if (broker.pid > 0) {
            EXPECT_TRUE(EndsWithin(broker.pid, 1s)) << "the broker outlived its pair";
        }
    }

    fdp::LinkBrokerHandle broker;
    std::uint32_t ifindex = 0;
    std::uint8_t own[6]{};
};

// Only the link's frames with the adapter's own address go out; every other request is
// answered with a refusal and its reason, and nothing of it reaches the wire.
TEST_F(LinkBrokerE2eTest, SendsOnlyTheLinksFramesFromTheAdaptersOwnAddress) {
    const std::uint8_t stranger[6] = {0x02, 0x4b, 0x56, 0x00, 0x00, 0x99};
    struct Case {
        const char* what;
        Bytes request;
        int refusal;   // 0: sent
        int marker;
    };
    const Case cases[] = {
        {"the link's frame", Request(ifindex, Frame(own, 0x0707, 1)), 0, 1},
        {"the largest frame", Request(ifindex, Frame(own, 0x0707, 2, 1514)), 0, 2},
        {"EtherType 0x0800", Request(ifindex, Frame(own, 0x0800, 3)), 3, 3},
        {"EtherType 0x0003 as a frame header", Request(ifindex, Frame(own, 0x0003, 4)), 3, 4},
        {"another source address", Request(ifindex, Frame(stranger, 0x0707, 5)), 5, 5},
        {"a frame longer than the link allows", Request(ifindex, Frame(own, 0x0707, 6, 1515)), 2, 6},
        {"a frame past the broker's buffer", Request(ifindex, Frame(own, 0x0707, 7, 4000)), 2, 7},
        {"a short frame", Request(ifindex, Frame(own, 0x0707, 8, 40)), 2, 8},
        {"an unknown interface", Request(999999, Frame(own, 0x0707, 9)), 4, 9},
        {"interface index 0", Request(0, Frame(own, 0x0707, 10)), 4, 10},
        {"the loopback interface", Request(1, Frame(own, 0x0707, 11)), 4, 11},
        {"a length field that disagrees", Request(ifindex, Frame(own, 0x0707, 12), 2, 61), 1, 12},
        {"not a send request", Request(ifindex, Frame(own, 0x0707, 13), 1), 1, 13},
        {"a header cut short", Bytes{1, 0, 0}, 1, -1},
    };
    WireWatch wire(own, 1500ms);
    ASSERT_TRUE(wire.Watching());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(::send(broker.fd, c.request.data(), c.request.size(), 0), static_cast<ssize_t>(c.request.size()));
        if (c.refusal == 0) continue;
        const auto reply = NextMessage(broker.fd, 1s);
        ASSERT_TRUE(reply.has_value()) << "no refusal";
        ASSERT_EQ(reply->size(), 8u);
        EXPECT_EQ((*reply)[6], 3) << "kind";
        EXPECT_EQ((*reply)[7], c.refusal) << "reason";
    }
    const auto markers = wire.Markers();
    EXPECT_EQ(markers, (std::multiset<int>{1, 2}));
}

// Frames of another EtherType arriving on the wire never reach the program, the link's
// do, with their interface and packet type.
TEST_F(LinkBrokerE2eTest, PassesUpTheLinksFramesOnly) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int ns = ::open(("/run/netns/" + NapNamespace()).c_str(), O_RDONLY | O_CLOEXEC);
        if (ns < 0 || ::setns(ns, CLONE_NEWNET) != 0) ::_exit(1);
        const int fd = ::socket(AF_PACKET, SOCK_RAW, 0);
        const unsigned napIndex = ::if_nametoindex(kNapInterface);
        if (fd < 0 || napIndex == 0) ::_exit(2);
        const std::uint8_t source[6] = {0x02, 0x4b, 0x56, 0x00, 0x00, 0x77};
        int marker = 0;
        const std::uint16_t etherTypes[] = {0x0800, 0x0707, 0x86dd, 0x0806, 0x0707, 0x88cc};
        for (const std::uint16_t etherType : etherTypes) {
            Bytes frame = Frame(source, etherType, static_cast<std::uint8_t>(++marker));
            std::memcpy(frame.data(), own, 6);
            sockaddr_ll to{};
            to.sll_family = AF_PACKET;
            to.sll_ifindex = static_cast<int>(napIndex);
            to.sll_halen = 6;
            std::memcpy(to.sll_addr, own, 6);
            if (::sendto(fd, frame.data(), frame.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) !=
                static_cast<ssize_t>(frame.size()))
                ::_exit(3);
        }
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "could not send from the target's side";
    std::multiset<int> markers;
    while (const auto message = NextMessage(broker.fd, 500ms)) {
        ASSERT_GE(message->size(), 8u + 16u);
        std::uint32_t from = 0;
        std::memcpy(&from, message->data(), 4);
        if ((*message)[8 + 11] != 0x77) continue;   // the simulator of another test, were one running
        EXPECT_EQ((*message)[6], 1) << "kind";
        EXPECT_EQ(from, ifindex);
        EXPECT_EQ((*message)[7], PACKET_HOST);
        markers.insert((*message)[8 + 15]);
    }
    EXPECT_EQ(markers, (std::multiset<int>{2, 5}));
}

// The program's end closed: the broker ends at once; killed, the program's end reads the
// end of the pair instead of waiting.
TEST_F(LinkBrokerE2eTest, EndsWithItsPairAndItsEndIsSeen) {
    EXPECT_EQ(BrokerOf(::getpid(), 1s), broker.pid) << "the broker names itself kelvane-link";
    std::ifstream status("/proc/" + std::to_string(broker.pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("CapEff:") || line.starts_with("CapPrm:")) {
            EXPECT_EQ(line.substr(line.find_first_not_of(" \t", 7)), "0000000000000000") << line;
        }
        if (line.starts_with("NoNewPrivs:")) {
            EXPECT_EQ(line.back(), '1') << line;
        }
    }
    ASSERT_EQ(::kill(broker.pid, SIGKILL), 0);
    pollfd p{broker.fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 1000), 1);
    char byte;
    EXPECT_EQ(::recv(broker.fd, &byte, 1, MSG_DONTWAIT), 0) << "the end of the pair";
}

// kelvane-cli's broker killed in the middle of a download: the run ends at once as an
// adapter lost (exit 48), not after the transfer's time-out. The tool itself killed: its
// broker ends within a second.
class LinkBrokerCliE2eTest : public LinkFixture {};

std::string CliDownload(const TempDir& folder) {
    return std::string(KELVANE_BIN_DIR) + "/kelvane-cli --no-progress --interface " + kPcInterface + " --folder " +
           folder.Path() + " --password kiwi --force download program " + (folder / "image.bin") + " 2>&1";
}

TEST_F(LinkBrokerCliE2eTest, ABrokerKilledMidDownloadEndsTheRunAsAnAdapterLost) {
    ASSERT_NO_FATAL_FAILURE(StartSim({"--erase-delay-ms", "60000"}));
    ASSERT_TRUE(WriteBytes(folder / "image.bin", RandomBytes(3000, 23)));
    const std::string command = "echo $$ >" + (folder / "cli.pid") + "; exec " + CliDownload(folder);
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    std::optional<Clock::time_point> killed;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe)) {
        output += line;
        if (!killed && std::string(line).starts_with("Start to erase program area!")) {
            pid_t cli = 0;
            std::ifstream(folder / "cli.pid") >> cli;
            const auto broker = BrokerOf(cli);
            EXPECT_TRUE(broker.has_value()) << "no kelvane-link child of " << cli;
            killed = Clock::now();
            if (broker) ::kill(*broker, SIGKILL);
        }
    }
    const int status = ::pclose(pipe);
    ASSERT_TRUE(killed.has_value()) << output;
    EXPECT_LT(Clock::now() - *killed, 10s) << output;
    ASSERT_TRUE(WIFEXITED(status)) << output;
    EXPECT_EQ(WEXITSTATUS(status), 48) << output;
    EXPECT_NE(output.find("The adapter kv0 went away"), std::string::npos) << output;
    EXPECT_EQ(output.find("time out"), std::string::npos) << output;
}

TEST_F(LinkBrokerCliE2eTest, TheBrokerEndsWithinASecondOfTheTool) {
    // Nobody announces: the tool listens.
    const std::string command = std::string(KELVANE_BIN_DIR) + "/kelvane-cli --interface " + kPcInterface +
                                " --folder " + folder.Path() + " --password kiwi version program";
    const pid_t cli = ::fork();
    ASSERT_GE(cli, 0);
    if (cli == 0) {
        ::execl("/bin/sh", "sh", "-c", ("exec " + command + " >/dev/null 2>&1").c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const auto broker = BrokerOf(cli);
    ASSERT_TRUE(broker.has_value());
    ASSERT_EQ(::kill(cli, SIGKILL), 0);
    ::waitpid(cli, nullptr, 0);
    EXPECT_TRUE(EndsWithin(*broker, 1s));
}

}  // namespace
}  // namespace e2e
