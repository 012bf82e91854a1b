// The link listening for a target on a PC whose adapters change under it, for real: the
// engine and the packet socket driver in the PC namespace, kelvane-nap-sim as the target.
// A wireless adapter carries no login unless the user names it; an interface deleted and
// made again (a USB target restarting), or one that comes after many others, is heard
// without restarting the program.
#include <gtest/gtest.h>

#include <net/if.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "fdp/FdpEngine.h"
#include "fdp/PacketSocketDriver.h"
#include "tests/e2e/Bench.h"
#include "tests/support/RecordingFrontEnd.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kAnnounceMs = 500;
constexpr unsigned kConnectOk = 0;
constexpr unsigned kConnectTimeout = 2;


class ListeningE2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        KELVANE_NEED_BENCH();
        front.SetProgramFolder(folder.Path());
    }
    void TearDown() override {
        if (IsSkipped()) return;   // no bench was touched; none is made, no sudo is asked
        if (engineStarted) {
            engine.Stop();
            front.ShutdownLink();
        }
        sim.Stop();
        for (int n = 1; n <= kExtraPairs; ++n) Shell("ip link del kvy" + std::to_string(n));
        Bench("spares down");
        Bench("up");   // the other tests find the bench as they expect it
    }

    // The engine on whatever adapters the PC side has now, listening for a target.
    void StartListening(const fdp::LinkTimeouts& timeouts = {}) {
        ASSERT_TRUE(front.StartLink());
        engine.SetTimeouts(timeouts);
        ASSERT_EQ(engine.Start(&driver, &front), 1);
        engineStarted = true;
        front.SetLink(&engine, &driver);
        ASSERT_GE(front.OpenFirstAdapter(), 0) << driver.LastError();
        front.SetPassword("kiwi");
        ASSERT_EQ(front.Listen(), 0);
    }
    void StartTarget() { ASSERT_TRUE(sim.Start(folder.Path(), {"--announce-ms", std::to_string(kAnnounceMs)})) << sim.Error(); }
    unsigned ConnectResult(std::chrono::milliseconds within) {
        const auto result = front.WaitResult(fdp::WM_FDP_CONNECT, within);
        return result ? result->wParam : 0xFFFF;
    }
    bool LoggedIn() const { return !sim.LogLines({"\"dir\":\"in\"", "\"type\":2"}).empty(); }

    static constexpr int kExtraPairs = 8;
    TempDir folder;
    SimProcess sim;
    fdp::CPacketSocketDriver driver;
    fdp::CFdpEngine engine;
    fdp::test::RecordingFrontEnd front;
    bool engineStarted = false;
};

// A copy of the PC side's /sys/class/net for kv0 that marks it as Wi-Fi, as a laptop's
// wlan0 looks: the bench cannot make a real wireless interface.
std::string WirelessSysfs(const TempDir& folder) {
    const fs::path real = fs::path("/sys/class/net") / kPcInterface;
    const fs::path fake = fs::path(folder.Path()) / "net" / kPcInterface;
    fs::create_directories(fake / "wireless");
    for (const char* attribute : {"type", "ifindex", "flags", "address"}) {
        // sysfs files claim a size they do not have: read, not copied.
        std::ifstream in(real / attribute);
        std::string value;
        std::getline(in, value);
        std::ofstream(fake / attribute) << value << "\n";
    }
    return (fs::path(folder.Path()) / "net").string();
}

TEST_F(ListeningE2eTest, AWirelessAdapterCarriesALoginOnlyWhenNamed) {
    struct Case {
        const char* interface;
        unsigned connect;
    } cases[] = {{"", kConnectTimeout}, {kPcInterface, kConnectOk}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("--interface ") + c.interface);
        TempDir sysfs;
        fdp::CPacketSocketDriver wifiDriver;
        fdp::CFdpEngine wifiEngine;
        fdp::test::RecordingFrontEnd wifiFront;
        wifiDriver.SetSysfsRoot(WirelessSysfs(sysfs));
        wifiDriver.SetInterfaceFilter(c.interface);
        wifiFront.SetProgramFolder(folder.Path());
        ASSERT_TRUE(wifiFront.StartLink());
        fdp::LinkTimeouts timeouts;
        timeouts.listen = 6 * kAnnounceMs;
        wifiEngine.SetTimeouts(timeouts);
        wifiEngine.Start(&wifiDriver, &wifiFront);
        wifiFront.SetLink(&wifiEngine, &wifiDriver);
        ASSERT_EQ(wifiFront.OpenFirstAdapter(), 0) << wifiDriver.LastError();
        wifiFront.SetPassword("kiwi");
        ::testing::internal::CaptureStderr();   // before the target's first announce
        StartTarget();
        ASSERT_EQ(wifiFront.Listen(), 0);
        const auto result = wifiFront.WaitResult(fdp::WM_FDP_CONNECT, 15s);
        const std::string debug = ::testing::internal::GetCapturedStderr();
        ASSERT_TRUE(result.has_value());
        EXPECT_EQ(result->wParam, c.connect);
        const std::string notice =
            "Ignoring an announce on kv0: wireless adapters are used only when named with --interface";
        if (c.connect == kConnectOk) {
            EXPECT_TRUE(LoggedIn());
            EXPECT_EQ(debug.find(notice), std::string::npos) << debug;
        } else {
            EXPECT_FALSE(LoggedIn()) << "a login went out on the wireless adapter";
            // Said once, however often the target announced.
            EXPECT_EQ(debug, notice + "\n");
            EXPECT_EQ(wifiFront.statusText(), notice);
        }
        wifiEngine.Stop();
        wifiFront.ShutdownLink();
        sim.Stop();
    }
}

TEST_F(ListeningE2eTest, ATargetWhoseInterfaceIsMadeAgainIsLoggedIn) {
    StartListening();
    ASSERT_EQ(driver.GetAdapterName(front.AdapterIndex()), kPcInterface);
    const long before = if_nametoindex(kPcInterface);
    ASSERT_TRUE(Bench("unplug"));
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(Bench("up"));
    ASSERT_NE(if_nametoindex(kPcInterface), before) << "the interface was not made again";
    StartTarget();
    EXPECT_EQ(ConnectResult(10s), kConnectOk);
    EXPECT_TRUE(LoggedIn());
    EXPECT_EQ(front.TargetAddress(), (fdp::MacAddress{0x02, 0x4b, 0x56, 0x00, 0x00, 0x02}));
}

TEST_F(ListeningE2eTest, EightPairsMadeWhileListeningDoNotHideTheTargetsLateAdapter) {
    ASSERT_TRUE(Bench("unplug"));
    ASSERT_TRUE(Bench("spares up 1"));
    StartListening();
    ASSERT_EQ(driver.GetAdapterName(front.AdapterIndex()), "kvx1");
    // Sixteen new interfaces on the PC side, both ends of each pair.
    for (int n = 1; n <= kExtraPairs; ++n) {
        const std::string name = "kvy" + std::to_string(n);
        ASSERT_TRUE(Shell("ip link add " + name + " type veth peer name " + name + "p")) << name;
        ASSERT_TRUE(Shell("ip link set " + name + " up && ip link set " + name + "p up")) << name;
    }
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(Bench("up"));
    StartTarget();
    EXPECT_EQ(ConnectResult(10s), kConnectOk);
    EXPECT_EQ(front.AdapterName(), kPcInterface);
}

}  // namespace
}  // namespace e2e
