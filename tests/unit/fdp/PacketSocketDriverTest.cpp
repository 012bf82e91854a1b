// The packet socket driver where no network is needed: discovery over a fake sysfs
// tree, the refusals, the wake-up of a waiting read, the remedy for a missing privilege.
// Sending and receiving for real is checked over the veth bench (e2e).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "fdp/PacketSocketDriver.h"

namespace fdp {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct FakeInterface {
    const char* name;
    int type;
    int ifindex;
    unsigned flags;
    const char* driver;   // null: a virtual interface without a device
    const char* address;
    const char* bus = "pci";   // the subsystem of its device
    bool wireless = false;
};

class FakeSysfs {
public:
    FakeSysfs() {
        std::string pattern = (fs::temp_directory_path() / "kelvane-sysfs-XXXXXX").string();
        if (::mkdtemp(pattern.data())) root = pattern;
        // Readable by the unprivileged user the privilege tests become.
        fs::permissions(root, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
    }
    ~FakeSysfs() {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
    void Add(const FakeInterface& i) {
        const fs::path dir = root / "class/net" / i.name;
        fs::create_directories(dir);
        Write(dir / "type", std::to_string(i.type));
        Write(dir / "ifindex", std::to_string(i.ifindex));
        char flags[16];
        std::snprintf(flags, sizeof flags, "0x%x", i.flags);
        Write(dir / "flags", flags);
        Write(dir / "address", i.address);
        if (i.driver) {
            const fs::path bus = root / "bus" / i.bus;
            const fs::path driverDir = bus / "drivers" / i.driver;
            fs::create_directories(driverDir);
            fs::create_directories(root / "devices" / i.name);
            fs::create_directory_symlink(driverDir, root / "devices" / i.name / "driver");
            fs::create_directory_symlink(bus, root / "devices" / i.name / "subsystem");
            fs::create_directory_symlink(root / "devices" / i.name, dir / "device");
        }
        if (i.wireless) fs::create_directories(dir / "wireless");
    }
    std::string Net() const { return (root / "class/net").string(); }
    fs::path root;

private:
    static void Write(const fs::path& path, const std::string& text) { std::ofstream(path) << text << "\n"; }
};

class PacketSocketDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        driver.SetSysfsRoot(sysfs.Net());
        driver.Init(nullptr);
    }
    void TearDown() override { driver.Uninit(); }

    FakeSysfs sysfs;
    CPacketSocketDriver driver;
};

// A technician's laptop: the adapter to the target is rarely the first by ifindex.
TEST_F(PacketSocketDriverTest, RanksWiredThenUsbThenWirelessThenVirtualByIfindexWithoutLoopback) {
    const FakeInterface interfaces[] = {
        {"lo", 772, 1, 0x9, nullptr, "00:00:00:00:00:00"},
        {"loeth", 1, 2, 0x9, nullptr, "02:00:00:00:00:09"},          // loopback flag on type 1
        {"docker0", 1, 3, 0x1003, nullptr, "02:00:00:00:00:01"},     // bridge: no device
        {"wlp2s0", 1, 4, 0x1003, "iwlwifi", "02:00:00:00:00:02", "pci", true},
        {"veth1a", 1, 5, 0x1003, nullptr, "02:00:00:00:00:03"},
        {"sit0", 776, 6, 0x80, nullptr, "00:00:00:00"},
        {"enx0050b6", 1, 7, 0x1003, "r8152", "02:00:00:00:00:04", "usb"},
        {"enp0s31f6", 1, 9, 0x1003, "e1000e", "02:00:00:00:00:05"},
        {"usb0", 1, 8, 0x1003, "cdc_ether", "02:00:00:00:00:06", "usb"},
        {"eth0", 1, 10, 0x1003, "virtio_net", "02:00:00:00:00:07", "virtio"},
    };
    for (const auto& i : interfaces) sysfs.Add(i);

    struct Row {
        const char* name;
        AdapterRank rank;
    };
    const Row expected[] = {{"enp0s31f6", RankWired}, {"eth0", RankWired},      {"enx0050b6", RankUsb},
                            {"usb0", RankUsb},        {"wlp2s0", RankWireless}, {"docker0", RankVirtual},
                            {"veth1a", RankVirtual}};
    CAdapterList list(sysfs.Net());
    const auto all = list.Enumerate(16);
    ASSERT_EQ(all.size(), std::size(expected));
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i].name, expected[i].name) << i;
        EXPECT_EQ(all[i].rank, expected[i].rank) << i;
    }

    // The table holds the five best; the virtual ones fall off first.
    ASSERT_EQ(driver.EnumerateAdapters(), kMaxAdapters);
    for (int i = 0; i < kMaxAdapters; ++i) {
        EXPECT_EQ(driver.GetAdapterName(i), expected[i].name) << i;
        EXPECT_EQ(driver.IsEthernet(i), 1) << i;
    }
    EXPECT_EQ(driver.GetAdapterDescription(0), "enp0s31f6: Ethernet adapter (e1000e)");
    EXPECT_EQ(driver.GetAdapterDescription(kMaxAdapters), "");
    EXPECT_EQ(driver.GetAdapterName(-1), "");
    EXPECT_EQ(driver.IsEthernet(kMaxAdapters), 0);

    // One interface on its own, as a late arrival is looked at.
    EXPECT_EQ(list.Describe("veth1a")->description, "veth1a: Ethernet adapter (virtual)");
    EXPECT_EQ(list.Describe("usb0")->rank, RankUsb);
    for (const char* refused : {"lo", "loeth", "sit0", "nosuch", "..", "a/b", ""})
        EXPECT_FALSE(list.Describe(refused).has_value()) << refused;
}

// Wi-Fi is known by its "wireless" folder or its "phy80211" link, whatever else the
// interface looks like: a login must never go out on it unasked.
TEST(AdapterListTest, WirelessIsKnownByItsFolderOrItsPhyLink) {
    FakeSysfs sysfs;
    sysfs.Add({"wlan0", 1, 2, 0x1003, "iwlwifi", "02:00:00:00:00:01", "pci", true});
    sysfs.Add({"wlan1", 1, 3, 0x1003, nullptr, "02:00:00:00:00:02", "pci", true});   // no device folder
    sysfs.Add({"wlx00c0", 1, 4, 0x1003, "rtl8xxxu", "02:00:00:00:00:03", "usb"});
    fs::create_directories(sysfs.root / "phy0");
    fs::create_directory_symlink(sysfs.root / "phy0", sysfs.root / "class/net/wlx00c0/phy80211");
    sysfs.Add({"veth0", 1, 5, 0x1003, nullptr, "02:00:00:00:00:04"});
    const struct {
        const char* name;
        AdapterRank rank;
    } cases[] = {{"wlan0", RankWireless}, {"wlan1", RankWireless}, {"wlx00c0", RankWireless}, {"veth0", RankVirtual}};
    CAdapterList list(sysfs.Net());
    for (const auto& c : cases) {
        const auto entry = list.Describe(c.name);
        ASSERT_TRUE(entry.has_value()) << c.name;
        EXPECT_EQ(entry->rank, c.rank) << c.name;
    }
}

TEST_F(PacketSocketDriverTest, InterfaceFilterKeepsOnlyTheNamedInterface) {
    sysfs.Add({"eth0", 1, 2, 0x1003, "virtio_net", "02:00:00:00:00:05"});
    sysfs.Add({"kv0", 1, 3, 0x1003, nullptr, "02:4b:56:00:00:01"});
    sysfs.Add({"lo", 772, 1, 0x9, nullptr, "00:00:00:00:00:00"});

    driver.SetInterfaceFilter("kv0");
    ASSERT_EQ(driver.EnumerateAdapters(), 1);
    EXPECT_EQ(driver.GetAdapterName(0), "kv0");

    driver.SetInterfaceFilter("lo");
    EXPECT_EQ(driver.EnumerateAdapters(), 0);
    driver.SetInterfaceFilter("nosuch7");
    EXPECT_EQ(driver.EnumerateAdapters(), 0);
    EXPECT_NE(driver.LastError().find("nosuch7"), std::string::npos) << driver.LastError();
}

// Discovery that cannot read the adapter folder, or an adapter's type, says so on the
// debug output and lists what it could read.
TEST_F(PacketSocketDriverTest, UnreadableSysfsIsTracedOnTheDebugOutput) {
    const std::string absent = (sysfs.root / "absent").string();
    driver.SetSysfsRoot(absent);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(driver.EnumerateAdapters(), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Can't open " + absent + "\n");

    driver.SetSysfsRoot(sysfs.Net());
    sysfs.Add({"eth0", 1, 2, 0x1003, "virtio_net", "02:00:00:00:00:05"});
    fs::create_directories(sysfs.root / "class/net/eth1");   // no type attribute
    std::ofstream(sysfs.root / "class/net/bonding_masters") << "\n";   // a plain file: no adapter
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(driver.EnumerateAdapters(), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Can't open " + sysfs.Net() + "/eth1/type\n");
}

TEST(AdapterListTest, ReadsOnlyWellFormedAddresses) {
    FakeSysfs sysfs;
    struct Case {
        const char* text;
        bool ok;
    } cases[] = {
        {"02:4b:56:00:00:01", true},
        {"02:4B:56:0A:ff:01", true},
        {"02:4b:56:00:00", false},
        {"02:4b:56:00:00:01:07", false},
        {"zz:4b:56:00:00:01", false},
        {"", false},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string name = "if" + std::to_string(n++);
        sysfs.Add({name.c_str(), 1, n, 0x1003, nullptr, c.text});
        CAdapterList list(sysfs.Net());
        MacAddress address{};
        EXPECT_EQ(list.ReadAddress(name, address), c.ok) << c.text;
    }
    MacAddress address{};
    CAdapterList list(sysfs.Net());
    ASSERT_TRUE(list.ReadAddress("if1", address));
    EXPECT_EQ(address, (MacAddress{0x02, 0x4b, 0x56, 0x0a, 0xff, 0x01}));
    EXPECT_FALSE(list.ReadAddress("../net/if0", address));
    EXPECT_FALSE(list.ReadAddress("absent", address));
}

TEST_F(PacketSocketDriverTest, OpenRefusesAnIndexNotBelowTheCount) {
    sysfs.Add({"eth0", 1, 2, 0x1003, "virtio_net", "02:00:00:00:00:05"});
    ASSERT_EQ(driver.EnumerateAdapters(), 1);
    EXPECT_EQ(driver.OpenAdapter(1), OpenBadIndex);
    EXPECT_EQ(driver.OpenAdapter(7), OpenBadIndex);
}

TEST_F(PacketSocketDriverTest, AnInterfaceThatCannotBeOpenedGivesResult2AndSaysWhy) {
    sysfs.Add({"kvnosuch9", 1, 2, 0x1003, nullptr, "02:00:00:00:00:05"});
    ASSERT_EQ(driver.EnumerateAdapters(), 1);
    EXPECT_EQ(driver.OpenAdapter(0), OpenFailed);
    EXPECT_NE(driver.LastError().find("kvnosuch9"), std::string::npos) << driver.LastError();
    EXPECT_EQ(driver.CloseAdapter(0), 0);   // nothing is open
}

// Without CAP_NET_RAW the socket does not open; the remedy names the program's own path,
// quoted, for a build tree or portable copy.
TEST_F(PacketSocketDriverTest, LackOfPrivilegeIsExplainedWithTheRemedy) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to drop to an unprivileged user";
    // "lo" always exists; listed here as an Ethernet interface so that it is chosen.
    sysfs.Add({"lo", 1, 1, 0x1003, nullptr, "00:00:00:00:00:00"});
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipeFds[0]);
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0) ::_exit(100);
        CPacketSocketDriver unprivileged;
        unprivileged.SetSysfsRoot(sysfs.Net());
        unprivileged.Init(nullptr);
        if (unprivileged.EnumerateAdapters() != 1) ::_exit(102);
        const int result = unprivileged.OpenAdapter(0);
        const std::string why = unprivileged.LastError();
        if (::write(pipeFds[1], why.data(), why.size()) < 0) ::_exit(101);
        ::_exit(result);
    }
    ::close(pipeFds[1]);
    std::string why;
    char chunk[256];
    for (ssize_t n; (n = ::read(pipeFds[0], chunk, sizeof chunk)) > 0;) why.append(chunk, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), OpenFailed);
    char self[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", self, sizeof self - 1), 0);
    EXPECT_NE(why.find(std::string("sudo setcap cap_net_raw+ep \"") + self + "\""), std::string::npos) << why;
    EXPECT_NE(why.find("or run it as root"), std::string::npos) << why;
    EXPECT_EQ(why.find("cap_net_admin"), std::string::npos) << why;
}

// main opens the socket before it gives up its privileges and hands it to every driver
// of the process; one it could not open is explained as if the driver had tried.
TEST_F(PacketSocketDriverTest, ASocketOpenedEarlierIsUsedAndAFailedOneExplained) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root for a packet socket";
    sysfs.Add({"lo", 1, 1, 0x1003, nullptr, "00:00:00:00:00:00"});
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        CPacketSocketDriver::SetProcessBroker(StartLinkBroker());
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0) ::_exit(100);
        // Two drivers one after the other (kelvane-cli --repeat): each gets the socket.
        for (int round = 0; round < 2; ++round) {
            CPacketSocketDriver late;
            late.SetSysfsRoot(sysfs.Net());
            late.Init(nullptr);
            if (late.EnumerateAdapters() != 1 || late.OpenAdapter(0) != OpenOk) ::_exit(10 + round);
            const std::uint8_t destination[6] = {0x02, 0, 0, 0, 0, 2};
            const std::uint8_t payload[20] = {0x61};
            if (late.SendFrame(destination, payload, sizeof payload) != 1) ::_exit(20 + round);
        }
        CPacketSocketDriver::SetProcessBroker({-1, EPERM, -1});
        CPacketSocketDriver refused;
        refused.SetSysfsRoot(sysfs.Net());
        refused.Init(nullptr);
        refused.EnumerateAdapters();
        if (refused.OpenAdapter(0) != OpenFailed) ::_exit(30);
        ::_exit(refused.LastError().find("cap_net_raw+ep") != std::string::npos ? 0 : 31);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(PacketSocketDriverTest, SendsAreRefusedWithoutAnOpenAdapterOrWithABadPayload) {
    const std::uint8_t destination[6] = {0x02, 0, 0, 0, 0, 2};
    std::uint8_t payload[1501] = {};
    EXPECT_EQ(driver.SendFrame(destination, payload, 20), 0);
    EXPECT_EQ(driver.SendFrame(destination, payload, 1500), 0);
    EXPECT_EQ(driver.SendFrame(destination, payload, 1501), 0);
    EXPECT_EQ(driver.SendFrame(destination, nullptr, 20), 0);
    EXPECT_EQ(driver.SendFrame(nullptr, payload, 20), 0);
}

TEST_F(PacketSocketDriverTest, IsLinkFrameLooksAtTheEthernetType) {
    std::uint8_t frame[60] = {};
    frame[12] = 0x07;
    frame[13] = 0x07;
    EXPECT_EQ(driver.IsLinkFrame(frame), 1);
    frame[13] = 0x08;
    EXPECT_EQ(driver.IsLinkFrame(frame), 0);
    EXPECT_EQ(driver.IsLinkFrame(nullptr), 0);
}

// Far above a stale wake's return, well below the read's one-second time-out.
constexpr auto kClearWait = std::chrono::milliseconds(300);

TEST_F(PacketSocketDriverTest, WakeEndsAWaitingReadAtOnceAndLeavesNoStaleWake) {
    std::uint32_t count = 7;
    const auto started = Clock::now();
    std::thread waker([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        driver.WakeReceiver();
    });
    EXPECT_EQ(driver.ReceiveFrames(count), nullptr);
    waker.join();
    EXPECT_EQ(count, 0u);
    EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(600));

    // The wake was used up: the next read waits again. A stale wake would end it within
    // a millisecond; a link change elsewhere on the machine (heard through rtnetlink) may
    // end it before its time-out, so only a clear wait is asked for.
    const auto second = Clock::now();
    EXPECT_EQ(driver.ReceiveFrames(count), nullptr);
    EXPECT_GE(Clock::now() - second, kClearWait);
}

TEST_F(PacketSocketDriverTest, SeveralWakesBeforeAReadEndOnlyThatRead) {
    driver.WakeReceiver();
    driver.WakeReceiver();
    std::uint32_t count = 0;
    const auto first = Clock::now();
    EXPECT_EQ(driver.ReceiveFrames(count), nullptr);
    EXPECT_LT(Clock::now() - first, std::chrono::milliseconds(100));
    const auto second = Clock::now();
    EXPECT_EQ(driver.ReceiveFrames(count), nullptr);
    EXPECT_GE(Clock::now() - second, kClearWait);
}

TEST_F(PacketSocketDriverTest, NothingOpensAfterUninit) {
    sysfs.Add({"eth0", 1, 2, 0x1003, "virtio_net", "02:00:00:00:00:05"});
    ASSERT_EQ(driver.EnumerateAdapters(), 1);
    driver.Uninit();
    EXPECT_EQ(driver.OpenAdapter(0), OpenNoSendPacket);
}

}  // namespace
}  // namespace fdp
