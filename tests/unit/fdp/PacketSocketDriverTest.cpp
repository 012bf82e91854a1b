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
    // upper sits on lower, as a VLAN, macvlan or bond names what it sits on.
    void Stack(const char* upper, const char* lower) {
        fs::create_directory_symlink(root / "class/net" / lower, root / "class/net" / upper / (std::string("lower_") + lower));
    }
    // port is a port of the bridge.
    void Port(const char* bridge, const char* port) {
        fs::create_directories(root / "class/net" / bridge / "brif");
        fs::create_directory_symlink(root / "class/net" / port, root / "class/net" / bridge / "brif" / port);
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

// Only a physical wired or USB adapter carries a login unnamed: a stranger can make a
// virtual interface, and a bridge, VLAN or macvlan over Wi-Fi is on the air however
// deep it is stacked. Wi-Fi is known by its "wireless" folder or its "phy80211" link.
TEST(AdapterListTest, OnlyPhysicalWiredAndUsbAdaptersCarryALoginUnnamed) {
    FakeSysfs sysfs;
    const FakeInterface interfaces[] = {
        {"enp3s0", 1, 2, 0x1003, "e1000e", "02:00:00:00:00:01"},
        {"enx0050b6", 1, 3, 0x1003, "r8152", "02:00:00:00:00:02", "usb"},
        {"wlp2s0", 1, 4, 0x1003, "iwlwifi", "02:00:00:00:00:03", "pci", true},
        {"wlan1", 1, 5, 0x1003, nullptr, "02:00:00:00:00:04", "pci", true},   // no device folder
        {"wlx00c0", 1, 6, 0x1003, "rtl8xxxu", "02:00:00:00:00:05", "usb"},    // phy80211 link only
        {"veth0", 1, 7, 0x1003, nullptr, "02:00:00:00:00:06"},
        {"tap0", 1, 8, 0x1003, nullptr, "02:00:00:00:00:07"},
        {"br0", 1, 9, 0x1003, nullptr, "02:00:00:00:00:08"},                  // a port: wlp2s0
        {"wlp2s0.7", 1, 10, 0x1003, nullptr, "02:00:00:00:00:09"},            // VLAN on wlp2s0
        {"br1", 1, 11, 0x1003, nullptr, "02:00:00:00:00:0a"},                 // a port: the VLAN
        {"mv0", 1, 12, 0x1003, nullptr, "02:00:00:00:00:0b"},                 // macvlan on enp3s0
        {"bond0", 1, 13, 0x1003, nullptr, "02:00:00:00:00:0c"},               // enp3s0 and enx0050b6
        {"dummy0", 1, 14, 0x1003, nullptr, "02:00:00:00:00:0d"},
        {"loop1", 1, 15, 0x1003, nullptr, "02:00:00:00:00:0e"},               // stacked on each
        {"loop2", 1, 16, 0x1003, nullptr, "02:00:00:00:00:0f"},               // other: ends
        {"tun0", 65534, 17, 0x10d1, nullptr, ""},                             // no Ethernet header
    };
    for (const auto& i : interfaces) sysfs.Add(i);
    fs::create_directories(sysfs.root / "phy0");
    fs::create_directory_symlink(sysfs.root / "phy0", sysfs.root / "class/net/wlx00c0/phy80211");
    sysfs.Port("br0", "wlp2s0");
    sysfs.Stack("wlp2s0.7", "wlp2s0");
    sysfs.Port("br1", "wlp2s0.7");
    sysfs.Stack("mv0", "enp3s0");
    sysfs.Stack("bond0", "enp3s0");
    sysfs.Stack("bond0", "enx0050b6");
    sysfs.Stack("loop1", "loop2");
    sysfs.Stack("loop2", "loop1");

    struct Case {
        const char* name;
        AdapterRank rank;
        bool login;
    } cases[] = {
        {"enp3s0", RankWired, true},        {"enx0050b6", RankUsb, true},     {"wlp2s0", RankWireless, false},
        {"wlan1", RankWireless, false},     {"wlx00c0", RankWireless, false}, {"veth0", RankVirtual, false},
        {"tap0", RankVirtual, false},       {"br0", RankWireless, false},     {"wlp2s0.7", RankWireless, false},
        {"br1", RankWireless, false},       {"mv0", RankVirtual, false},      {"bond0", RankVirtual, false},
        {"dummy0", RankVirtual, false},     {"loop1", RankVirtual, false},
    };
    CAdapterList unnamed(sysfs.Net());
    CAdapterList named(sysfs.Net());
    named.SetInterfaceFilter("w*,veth0,tap?,br[0-9],mv0,bond0,dummy0,loop*,enp3s0,enx0050b6");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto entry = unnamed.Describe(c.name);
        ASSERT_TRUE(entry.has_value());
        EXPECT_EQ(entry->rank, c.rank);
        EXPECT_EQ(unnamed.RankOf(c.name), c.rank);
        EXPECT_EQ(unnamed.MayCarryLogin(*entry), c.login);
        // Named, any kind carries it.
        EXPECT_TRUE(named.MayCarryLogin(*entry));
    }
    EXPECT_FALSE(unnamed.Describe("tun0").has_value());
    EXPECT_EQ(unnamed.RankOf("nosuch"), RankVirtual);
    EXPECT_EQ(unnamed.RankOf(".."), RankVirtual);
}

// What the connection page names when nothing answers: the virtual adapters that are up
// and not named, in ifindex order; never a wired, wireless or down one.
TEST(AdapterListTest, UnnamedUpListsTheVirtualAdaptersThatAreUp) {
    FakeSysfs sysfs;
    sysfs.Add({"eth0", 1, 2, 0x1003, "e1000e", "02:00:00:00:00:01"});
    sysfs.Add({"wlan0", 1, 3, 0x1003, "iwlwifi", "02:00:00:00:00:02", "pci", true});
    sysfs.Add({"tap1", 1, 9, 0x1003, nullptr, "02:00:00:00:00:03"});
    sysfs.Add({"kv0", 1, 4, 0x1003, nullptr, "02:00:00:00:00:04"});
    sysfs.Add({"veth9", 1, 5, 0x1002, nullptr, "02:00:00:00:00:05"});   // down
    sysfs.Add({"lo", 772, 1, 0x9, nullptr, "00:00:00:00:00:00"});
    CAdapterList list(sysfs.Net());
    EXPECT_EQ(list.UnnamedUp(RankVirtual), (std::vector<std::string>{"kv0", "tap1"}));
    EXPECT_EQ(list.UnnamedUp(RankWireless), (std::vector<std::string>{"wlan0"}));
    list.SetInterfaceFilter("kv*");
    EXPECT_EQ(list.UnnamedUp(RankVirtual), (std::vector<std::string>{"tap1"}));
}

// --interface as a bench or a production line writes it: names and shell patterns,
// separated by commas.
TEST(AdapterListTest, TheInterfaceListTakesNamesAndPatterns) {
    struct Case {
        const char* list;
        const char* name;
        bool named;
    } cases[] = {
        {"kv0", "kv0", true},           {"kv0", "kv01", false},        {"kv0", "kv", false},
        {"kv*", "kv0", true},           {"kv*", "kvx12", true},        {"kv*", "ekv0", false},
        {"kv*,enx*", "enx0050b6", true}, {"kv*,enx*", "eth0", false},  {"kv0,,eth?", "eth1", true},
        {"kv0,,eth?", "eth10", false},  {"eth[0-3]", "eth2", true},    {"eth[0-3]", "eth4", false},
        {"", "kv0", false},             {",", "kv0", false},           {"kv0 ", "kv0", false},
    };
    for (const auto& c : cases) {
        CAdapterList list("/nonexistent");
        list.SetInterfaceFilter(c.list);
        EXPECT_EQ(list.Names(c.name), c.named) << "'" << c.list << "' " << c.name;
    }
    const struct {
        const char* list;
        bool oneName;
    } names[] = {{"kv0", true}, {"kv*", false}, {"kv0,eth0", false}, {"kv0,", false}, {"eth[0]", false}};
    for (const auto& c : names) {
        CAdapterList list("/nonexistent");
        list.SetInterfaceFilter(c.list);
        EXPECT_EQ(list.FilterIsOneName(), c.oneName) << c.list;
    }
}

TEST_F(PacketSocketDriverTest, InterfaceFilterKeepsOnlyTheNamedInterfaces) {
    sysfs.Add({"eth0", 1, 2, 0x1003, "virtio_net", "02:00:00:00:00:05"});
    sysfs.Add({"kv0", 1, 3, 0x1003, nullptr, "02:4b:56:00:00:01"});
    sysfs.Add({"kvx1", 1, 4, 0x1003, nullptr, "02:4b:56:00:00:03"});
    sysfs.Add({"lo", 772, 1, 0x9, nullptr, "00:00:00:00:00:00"});

    driver.SetInterfaceFilter("kv0");
    ASSERT_EQ(driver.EnumerateAdapters(), 1);
    EXPECT_EQ(driver.GetAdapterName(0), "kv0");
    driver.SetInterfaceFilter("kv*,eth0");
    ASSERT_EQ(driver.EnumerateAdapters(), 3);
    EXPECT_EQ(driver.GetAdapterName(0), "eth0");
    EXPECT_EQ(driver.GetAdapterName(1), "kv0");
    EXPECT_EQ(driver.GetAdapterName(2), "kvx1");

    // A name that is not there is told by its name, a list or pattern that matches
    // nothing as it was given.
    const struct {
        const char* list;
        const char* error;
    } none[] = {
        {"lo", "There is no Ethernet interface named lo."},
        {"nosuch7", "There is no Ethernet interface named nosuch7."},
        {"kvq*", "No Ethernet interface matches kvq*."},
        {"nosuch7,lo", "No Ethernet interface matches nosuch7,lo."},
    };
    for (const auto& c : none) {
        driver.SetInterfaceFilter(c.list);
        EXPECT_EQ(driver.EnumerateAdapters(), 0) << c.list;
        EXPECT_EQ(driver.LastError(), c.error);
    }
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

// main opens the socket before it gives up its privileges and hands it to each driver
// it makes; one it could not open is explained as if the driver had tried.
TEST_F(PacketSocketDriverTest, ASocketOpenedEarlierIsUsedAndAFailedOneExplained) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root for a packet socket";
    sysfs.Add({"lo", 1, 1, 0x1003, nullptr, "00:00:00:00:00:00"});
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const LinkBrokerHandle broker = StartLinkBroker();
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0) ::_exit(100);
        // Two drivers one after the other (kelvane-cli --repeat): each gets the socket.
        for (int round = 0; round < 2; ++round) {
            CPacketSocketDriver late(broker);
            late.SetSysfsRoot(sysfs.Net());
            late.Init(nullptr);
            if (late.EnumerateAdapters() != 1 || late.OpenAdapter(0) != OpenOk) ::_exit(10 + round);
            const std::uint8_t destination[6] = {0x02, 0, 0, 0, 0, 2};
            const std::uint8_t payload[20] = {0x61};
            if (late.SendFrame(destination, payload, sizeof payload) != 1) ::_exit(20 + round);
        }
        CPacketSocketDriver refused(LinkBrokerHandle{-1, EPERM, -1});
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
