// The packet socket driver on real interfaces: what it puts on the wire, as the
// simulator on the other end of the veth pair sees it, and which of the frames that
// arrive it hands to the link (frames sent from the target's namespace by the test).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <thread>

#include "fdp/PacketSocketDriver.h"
#include "tests/e2e/Bench.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

constexpr std::uint8_t kNapAddress[6] = {0x02, 0x4b, 0x56, 0x00, 0x00, 0x02};
constexpr std::uint8_t kPcAddress[6] = {0x02, 0x4b, 0x56, 0x00, 0x00, 0x01};

using Bytes = std::vector<std::uint8_t>;

// A 60-byte frame to the PC side: EtherType, then the frame type byte and a marker.
Bytes FrameOf(std::uint16_t etherType, std::uint8_t type, std::uint8_t marker) {
    Bytes frame(60, 0);
    std::memcpy(frame.data(), kPcAddress, 6);
    const std::uint8_t source[6] = {0x02, 0x4b, 0x56, 0x00, 0x00, 0x77};
    std::memcpy(frame.data() + 6, source, 6);
    frame[12] = static_cast<std::uint8_t>(etherType >> 8);
    frame[13] = static_cast<std::uint8_t>(etherType);
    frame[14] = type;
    frame[15] = marker;
    return frame;
}

// Sends these frames out of an interface of the target's namespace, from a child that
// enters it; true when every one was sent.
bool SendFromTargetSide(const std::string& device, const std::vector<Bytes>& frames) {
    const pid_t child = ::fork();
    if (child < 0) return false;
    if (child == 0) {
        const int ns = ::open(("/run/netns/" + NapNamespace()).c_str(), O_RDONLY | O_CLOEXEC);
        if (ns < 0 || ::setns(ns, CLONE_NEWNET) != 0) ::_exit(1);
        const int fd = ::socket(AF_PACKET, SOCK_RAW, 0);
        const unsigned ifindex = ::if_nametoindex(device.c_str());
        if (fd < 0 || ifindex == 0) ::_exit(2);
        for (const Bytes& frame : frames) {
            sockaddr_ll to{};
            to.sll_family = AF_PACKET;
            to.sll_ifindex = static_cast<int>(ifindex);
            to.sll_halen = 6;
            std::memcpy(to.sll_addr, frame.data(), 6);
            if (::sendto(fd, frame.data(), frame.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) !=
                static_cast<ssize_t>(frame.size()))
                ::_exit(3);
        }
        ::_exit(0);
    }
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The first frame of EtherType 0x0707 that arrives on an interface of the target's
// namespace, caught by a child that enters it: Start returns once it listens.
class TargetSideCatcher {
public:
    ~TargetSideCatcher() {
        if (m_child > 0) {
            ::kill(m_child, SIGKILL);
            ::waitpid(m_child, nullptr, 0);
        }
        if (m_pipe >= 0) ::close(m_pipe);
    }
    bool Start(const std::string& device) {
        int ends[2];
        if (::pipe(ends) != 0) return false;
        m_child = ::fork();
        if (m_child < 0) return false;
        if (m_child == 0) {
            ::close(ends[0]);
            const int ns = ::open(("/run/netns/" + NapNamespace()).c_str(), O_RDONLY | O_CLOEXEC);
            if (ns < 0 || ::setns(ns, CLONE_NEWNET) != 0) ::_exit(1);
            const int fd = ::socket(AF_PACKET, SOCK_RAW, htons(0x0707));
            sockaddr_ll at{};
            at.sll_family = AF_PACKET;
            at.sll_protocol = htons(0x0707);
            at.sll_ifindex = static_cast<int>(::if_nametoindex(device.c_str()));
            if (fd < 0 || at.sll_ifindex == 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0)
                ::_exit(2);
            std::uint8_t frame[1600];
            std::uint16_t length = 0;
            if (::write(ends[1], &length, sizeof length) != sizeof length) ::_exit(3);   // listening
            pollfd wait = {fd, POLLIN, 0};
            if (::poll(&wait, 1, 3000) == 1) {
                const ssize_t got = ::recv(fd, frame, sizeof frame, 0);
                if (got > 0) length = static_cast<std::uint16_t>(got);
            }
            if (::write(ends[1], &length, sizeof length) != sizeof length ||
                ::write(ends[1], frame, length) != static_cast<ssize_t>(length))
                ::_exit(4);
            ::_exit(0);
        }
        ::close(ends[1]);
        m_pipe = ends[0];
        std::uint16_t ready = 1;
        return ::read(m_pipe, &ready, sizeof ready) == sizeof ready && ready == 0;
    }
    // The frame, empty when none came within three seconds of Start.
    Bytes Frame() {
        std::uint16_t length = 0;
        if (::read(m_pipe, &length, sizeof length) != sizeof length) return {};
        Bytes frame(length);
        std::size_t have = 0;
        while (have < length) {
            const ssize_t got = ::read(m_pipe, frame.data() + have, length - have);
            if (got <= 0) return {};
            have += static_cast<std::size_t>(got);
        }
        return frame;
    }

private:
    pid_t m_child = -1;
    int m_pipe = -1;
};

// The markers (byte 15) of the frames the driver hands over within the time given.
// The driver's index of the adapter of this name among count; -1 when it has none.
int IndexOf(fdp::CPacketSocketDriver& driver, int count, const std::string& name) {
    for (int i = 0; i < count; ++i)
        if (driver.GetAdapterName(i) == name) return i;
    return -1;
}

// kv0 and the spare kvx1 in the driver's table ("kv*": veths carry a login only when
// named), kv0 open and every candidate listened on.
void OpenKv0AndScout(fdp::CPacketSocketDriver& driver, int& kv0, int& kvx1) {
    driver.SetInterfaceFilter("kv*");
    driver.Init(nullptr);
    const int count = driver.EnumerateAdapters();
    kv0 = IndexOf(driver, count, kPcInterface);
    kvx1 = IndexOf(driver, count, "kvx1");
    ASSERT_GE(kv0, 0);
    ASSERT_GE(kvx1, 0);
    ASSERT_EQ(driver.OpenAdapter(static_cast<std::uint16_t>(kv0)), fdp::OpenOk) << driver.LastError();
    driver.SetScouting(true);
}

std::multiset<int> MarkersRead(fdp::CPacketSocketDriver& driver, std::chrono::milliseconds within) {
    std::multiset<int> markers;
    const auto deadline = std::chrono::steady_clock::now() + within;
    while (std::chrono::steady_clock::now() < deadline) {
        std::uint32_t count = 0;
        const std::uint8_t* data = driver.ReceiveFrames(count);
        fdp::ForEachCapturedFrame(data, count, [&](std::span<const std::uint8_t> frame) {
            // The test's own frames (source ...:77), and anything but the simulator's announces.
            if (frame.size() >= 16 && (frame[11] == 0x77 || frame[14] != 0x01)) markers.insert(frame[15]);
            return true;
        });
    }
    return markers;
}

class PacketSocketDriverE2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        KELVANE_NEED_BENCH();
        // A challenge the test never answers: the simulator only logs what arrives.
        ASSERT_TRUE(sim.Start(folder.Path(), {"--announce-ms", "60000"})) << sim.Error();
        driver.Init(nullptr);
        driver.SetInterfaceFilter(kPcInterface);
        ASSERT_EQ(driver.EnumerateAdapters(), 1);
        ASSERT_EQ(driver.OpenAdapter(0), fdp::OpenOk) << driver.LastError();
    }
    void TearDown() override {
        driver.Uninit();
        EXPECT_TRUE(sim.Stop());
    }

    // The simulator's log lines of frames that arrived with this first payload byte.
    std::vector<std::string> Arrived(const std::string& firstByteHex, std::chrono::milliseconds within = 2s) {
        const auto deadline = std::chrono::steady_clock::now() + within;
        std::vector<std::string> lines;
        do {
            lines = sim.LogLines({"\"dir\":\"in\"", "\"head\":\"" + firstByteHex});
            if (!lines.empty()) break;
            std::this_thread::sleep_for(10ms);
        } while (std::chrono::steady_clock::now() < deadline);
        return lines;
    }

    TempDir folder;
    SimProcess sim;
    fdp::CPacketSocketDriver driver;
};

TEST_F(PacketSocketDriverE2eTest, PadsShortPayloadsAndRefusesOversizedOnes) {
    // Payloads start with a frame type the target does not take, so it only logs them.
    struct Case {
        std::uint16_t length;
        std::uint8_t marker;
        int sent;
        std::size_t wireLength;   // 0: nothing must arrive
    } cases[] = {{20, 0x61, 1, 60}, {46, 0x62, 1, 60}, {47, 0x63, 1, 61}, {1500, 0x64, 1, 1514}, {1501, 0x65, 0, 0}};
    std::vector<std::uint8_t> payload(1501, 0xAB);
    for (const auto& c : cases) {
        payload[0] = c.marker;
        EXPECT_EQ(driver.SendFrame(kNapAddress, payload.data(), c.length), c.sent) << c.length;
    }
    char hex[3];
    for (const auto& c : cases) {
        std::snprintf(hex, sizeof hex, "%02x", c.marker);
        const auto lines = Arrived(hex, c.wireLength ? 2s : 300ms);
        if (c.wireLength == 0) {
            EXPECT_TRUE(lines.empty()) << c.length;
            continue;
        }
        ASSERT_EQ(lines.size(), 1u) << c.length;
        EXPECT_NE(lines[0].find("\"len\":" + std::to_string(c.wireLength) + ","), std::string::npos) << lines[0];
    }
    // The 20-byte payload: its bytes, then 26 zero bytes.
    const auto shortFrame = Arrived("61");
    ASSERT_EQ(shortFrame.size(), 1u);
    std::string head = "61";
    for (int i = 0; i < 19; ++i) head += "ab";
    head += std::string(2 * 26, '0') + "\"";
    EXPECT_NE(shortFrame[0].find("\"head\":\"" + head), std::string::npos) << shortFrame[0];
}

TEST_F(PacketSocketDriverE2eTest, OpenAndCloseFollowTheAdapterTable) {
    EXPECT_EQ(driver.OpenAdapter(0), fdp::OpenAlreadyOpen);
    EXPECT_EQ(driver.CloseAdapter(1), -1);          // another adapter is open
    std::uint8_t address[6] = {};
    driver.GetLocalAddress(address);
    EXPECT_EQ(address[0], 0x02);
    EXPECT_EQ(address[5], 0x01);
    EXPECT_EQ(driver.CloseAdapter(0), 0);
    EXPECT_EQ(driver.CloseAdapter(0), 0);           // none open
    const std::uint8_t payload[20] = {0x66};
    EXPECT_EQ(driver.SendFrame(kNapAddress, payload, sizeof payload), 0);
    EXPECT_EQ(driver.OpenAdapter(0), fdp::OpenOk);
    EXPECT_EQ(driver.SendFrame(kNapAddress, payload, sizeof payload), 1);
}

TEST_F(PacketSocketDriverE2eTest, CapturesTheTargetsFramesPromptly) {
    // The simulator announces at once when it starts; a restart gives a fresh announce.
    ASSERT_TRUE(sim.Stop());
    ASSERT_TRUE(sim.Start(folder.Path(), {"--announce-ms", "50"}));
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    bool seen = false;
    while (!seen && std::chrono::steady_clock::now() < deadline) {
        std::uint32_t count = 0;
        const std::uint8_t* data = driver.ReceiveFrames(count);
        if (!data) continue;
        ASSERT_GE(count, fdp::kCaptureHeaderLen + 60);
        const std::uint32_t caplen = fdp::ReadLe32(data + 8);
        const std::uint16_t hdrlen = fdp::ReadLe16(data + 16);
        EXPECT_EQ(hdrlen, fdp::kCaptureHeaderLen);
        EXPECT_EQ(caplen, fdp::ReadLe32(data + 12));
        EXPECT_EQ(driver.IsLinkFrame(data + hdrlen), 1);
        seen = data[hdrlen + 14] == 0x01;   // an announce
    }
    EXPECT_TRUE(seen);
}

// The kernel hands the socket only EtherType 0x0707, and the driver only what came in on
// the adapter in use: never our own frames going out, never another adapter's.
TEST_F(PacketSocketDriverE2eTest, OnlyTheLinksFramesArrivingOnTheAdapterInUseAreSeen) {
    ASSERT_TRUE(Bench("spares up 1"));
    const std::uint8_t payload[20] = {0x44, 0x50};
    ASSERT_EQ(driver.SendFrame(kNapAddress, payload, sizeof payload), 1);   // going out: marker 0x50
    ASSERT_TRUE(SendFromTargetSide(kNapInterface, {FrameOf(0x0800, 0x44, 0x51), FrameOf(0x0708, 0x44, 0x52),
                                                   FrameOf(0x0707, 0x44, 0x53), FrameOf(0x8100, 0x44, 0x54)}));
    ASSERT_TRUE(SendFromTargetSide("kvx1p", {FrameOf(0x0707, 0x44, 0x55)}));
    EXPECT_EQ(MarkersRead(driver, 700ms), (std::multiset<int>{0x53}));
    Bench("spares down");
}

// Listening on every candidate: the first announce on another adapter moves the link
// there, after which the adapter left behind is no longer heard.
TEST_F(PacketSocketDriverE2eTest, AnAnnounceOnAnotherCandidateMovesTheLinkThere) {
    ASSERT_TRUE(Bench("spares up 1"));
    fdp::CPacketSocketDriver all;
    int kv0 = -1, kvx1 = -1;
    ASSERT_NO_FATAL_FAILURE(OpenKv0AndScout(all, kv0, kvx1));
    ASSERT_TRUE(SendFromTargetSide("kvx1p", {FrameOf(0x0707, 0x44, 0x60)}));   // not an announce
    EXPECT_EQ(MarkersRead(all, 400ms), (std::multiset<int>{}));
    EXPECT_EQ(all.OpenIndex(), kv0);
    ASSERT_TRUE(SendFromTargetSide("kvx1p", {FrameOf(0x0707, 0x01, 0x71), FrameOf(0x0707, 0x44, 0x61)}));
    ASSERT_TRUE(SendFromTargetSide(kNapInterface, {FrameOf(0x0707, 0x44, 0x62)}));
    EXPECT_EQ(MarkersRead(all, 700ms), (std::multiset<int>{0x71, 0x61}));
    EXPECT_EQ(all.OpenIndex(), kvx1);
    all.Uninit();
    Bench("spares down");
}

// A frame carries the address of the adapter it leaves by: after an announce moved the
// link to another adapter, its frames come from that adapter's address, not the first
// one's (a veth takes frames to any address, a real card drops them).
TEST_F(PacketSocketDriverE2eTest, AfterAMoveFramesCarryTheNewAdaptersOwnAddress) {
    const Bytes kvx1Address = {0x02, 0x4b, 0x56, 0x00, 0x00, 0x31};
    ASSERT_TRUE(Bench("spares up 1"));
    ASSERT_TRUE(Shell("ip link set dev kvx1 down && ip link set dev kvx1 address 02:4b:56:00:00:31 && "
                      "ip link set dev kvx1 up"));
    fdp::CPacketSocketDriver all;
    int kv0 = -1, kvx1 = -1;
    ASSERT_NO_FATAL_FAILURE(OpenKv0AndScout(all, kv0, kvx1));
    ASSERT_TRUE(SendFromTargetSide("kvx1p", {FrameOf(0x0707, 0x01, 0x71)}));
    EXPECT_EQ(MarkersRead(all, 500ms), (std::multiset<int>{0x71}));
    ASSERT_EQ(all.OpenIndex(), kvx1);
    std::uint8_t local[6] = {};
    all.GetLocalAddress(local);
    EXPECT_EQ(Bytes(local, local + 6), kvx1Address);

    TargetSideCatcher catcher;
    ASSERT_TRUE(catcher.Start("kvx1p"));
    const std::uint8_t payload[20] = {0x44, 0x72};
    ASSERT_EQ(all.SendFrame(kNapAddress, payload, sizeof payload), 1);
    const Bytes frame = catcher.Frame();
    ASSERT_EQ(frame.size(), 60u) << "no frame arrived on kvx1p";
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 6), Bytes(kNapAddress, kNapAddress + 6));
    EXPECT_EQ(Bytes(frame.begin() + 6, frame.begin() + 12), kvx1Address);
    EXPECT_EQ(frame[15], 0x72);
    all.Uninit();
    Bench("spares down");
}

TEST_F(PacketSocketDriverE2eTest, AWakeEndsAReadOnAnOpenAdapterAtOnce) {
    std::uint32_t count = 0;
    // Whatever the simulator sent at its start is read first: until a read finds nothing
    // for its whole time-out.
    for (;;) {
        const auto before = std::chrono::steady_clock::now();
        if (!driver.ReceiveFrames(count) && std::chrono::steady_clock::now() - before > 500ms) break;
    }
    const auto started = std::chrono::steady_clock::now();
    std::thread waker([this] {
        std::this_thread::sleep_for(100ms);
        driver.WakeReceiver();
    });
    EXPECT_EQ(driver.ReceiveFrames(count), nullptr);
    waker.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 400ms);
}

}  // namespace
}  // namespace e2e
