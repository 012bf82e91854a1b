// The link listening for a target on a PC whose adapters change under it, for real: the
// engine and the packet socket driver in the PC namespace, kelvane-nap-sim as the target.
// A wireless or virtual adapter (the bench's veth) carries no login unless the user names
// it; an interface deleted and made again (a USB target restarting), or one that comes
// after many others, is heard without restarting the program, and ranked again.
#include <gtest/gtest.h>

#include <net/if.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "fdp/LinkSession.h"
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

    // The engine on the adapters of the PC side that the list names, listening for a target.
    void StartListening(const std::string& interfaces, const fdp::LinkTimeouts& timeouts = {}) {
        driver.SetInterfaceFilter(interfaces);
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
    fdp::CLinkSession engine;
    fdp::test::RecordingFrontEnd front;
    bool engineStarted = false;
};

// A copy of the PC side's /sys/class/net for kv0 that makes it look like another kind of
// adapter: Wi-Fi, as a laptop's wlan0 looks, or a wired adapter with a device behind it.
// The bench cannot make real ones.
enum class Looks { Wireless, Wired };

std::string FakeSysfs(const TempDir& folder, Looks looks) {
    const fs::path real = fs::path("/sys/class/net") / kPcInterface;
    const fs::path fake = fs::path(folder.Path()) / "net" / kPcInterface;
    fs::create_directories(fake);
    for (const char* attribute : {"type", "ifindex", "flags", "address"}) {
        // sysfs files claim a size they do not have: read, not copied.
        std::ifstream in(real / attribute);
        std::string value;
        std::getline(in, value);
        std::ofstream(fake / attribute) << value << "\n";
    }
    if (looks == Looks::Wireless) {
        fs::create_directories(fake / "wireless");
    } else {
        const fs::path device = fs::path(folder.Path()) / "devices/0000:00:1f.6";
        const fs::path bus = fs::path(folder.Path()) / "bus/pci";
        fs::create_directories(bus / "drivers/e1000e");
        fs::create_directories(device);
        fs::create_directory_symlink(bus / "drivers/e1000e", device / "driver");
        fs::create_directory_symlink(bus, device / "subsystem");
        fs::create_directory_symlink(device, fake / "device");
    }
    return (fs::path(folder.Path()) / "net").string();
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}

TEST_F(ListeningE2eTest, WirelessAndVirtualAdaptersCarryALoginOnlyWhenNamed) {
    const std::string wireless = "Ignoring an announce on kv0: wireless adapters are used only when named with --interface";
    const std::string virtualOne = "Ignoring an announce on kv0: virtual adapters are used only when named with --interface";
    struct Case {
        std::optional<Looks> looks;   // nothing: the veth as it is
        const char* interface;
        unsigned connect;
        std::string notice;
    } cases[] = {
        {Looks::Wireless, "", kConnectTimeout, wireless},
        {Looks::Wireless, kPcInterface, kConnectOk, ""},
        {std::nullopt, "", kConnectTimeout, virtualOne},
        {std::nullopt, kPcInterface, kConnectOk, ""},
        {std::nullopt, "kv*", kConnectOk, ""},
        {std::nullopt, "eth*,kv?", kConnectOk, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.looks ? "wireless " : "veth ") + "--interface " + c.interface);
        TempDir sysfs;
        fdp::CPacketSocketDriver oneDriver;
        fdp::CLinkSession oneEngine;
        fdp::test::RecordingFrontEnd oneFront;
        if (c.looks) oneDriver.SetSysfsRoot(FakeSysfs(sysfs, *c.looks));
        oneDriver.SetInterfaceFilter(c.interface);
        oneFront.SetProgramFolder(folder.Path());
        ASSERT_TRUE(oneFront.StartLink());
        fdp::LinkTimeouts timeouts;
        timeouts.listen = 6 * kAnnounceMs;
        oneEngine.SetTimeouts(timeouts);
        oneEngine.Start(&oneDriver, &oneFront);
        oneFront.SetLink(&oneEngine, &oneDriver);
        ASSERT_EQ(oneFront.OpenFirstAdapter(), 0) << oneDriver.LastError();
        oneFront.SetPassword("kiwi");
        ::testing::internal::CaptureStderr();   // before the target's first announce
        StartTarget();
        ASSERT_EQ(oneFront.Listen(), 0);
        const auto result = oneFront.WaitResult(fdp::WM_FDP_CONNECT, 15s);
        const std::string debug = ::testing::internal::GetCapturedStderr();
        ASSERT_TRUE(result.has_value());
        EXPECT_EQ(result->wParam, c.connect);
        if (c.connect == kConnectOk) {
            EXPECT_TRUE(LoggedIn());
            EXPECT_EQ(debug.find("Ignoring an announce"), std::string::npos) << debug;
        } else {
            EXPECT_FALSE(LoggedIn()) << "a login went out on an adapter nobody named";
            // Said once, however often the target announced.
            EXPECT_EQ(Count(debug, c.notice + "\n"), 1u) << debug;
            EXPECT_EQ(Count(debug, "Ignoring an announce"), 1u) << debug;
            EXPECT_EQ(oneFront.statusText(), c.notice);
        }
        oneEngine.Stop();
        oneFront.ShutdownLink();
        sim.Stop();
    }
}

// A wired adapter taken away and another interface made under its name (here: the
// bench's veth, which the fake sysfs showed as wired until then) is ranked again when it
// comes back: the new one carries no login.
TEST_F(ListeningE2eTest, AnAdapterThatComesBackUnderItsNameIsRankedAgain) {
    TempDir sysfs;
    driver.SetSysfsRoot(FakeSysfs(sysfs, Looks::Wired));
    fdp::LinkTimeouts timeouts;
    timeouts.listen = 20 * kAnnounceMs;
    StartListening("", timeouts);
    ASSERT_EQ(driver.GetAdapterName(front.AdapterIndex()), kPcInterface);
    ASSERT_TRUE(Bench("unplug"));
    fs::remove(fs::path(sysfs.Path()) / "net" / kPcInterface / "device");   // now a veth to the driver too
    ASSERT_TRUE(Bench("up"));
    std::this_thread::sleep_for(300ms);
    ::testing::internal::CaptureStderr();
    StartTarget();
    std::this_thread::sleep_for(std::chrono::milliseconds(4 * kAnnounceMs));
    const std::string debug = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(LoggedIn()) << "a login went out on the veth that took the wired adapter's name";
    EXPECT_EQ(Count(debug, "Ignoring an announce on kv0: virtual adapters are used only when named with --interface\n"), 1u)
        << debug;
}

TEST_F(ListeningE2eTest, ATargetWhoseInterfaceIsMadeAgainIsLoggedIn) {
    StartListening(kPcInterface);
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
    // The pattern a bench is named by: its adapters made later are named by it too.
    StartListening("kv*");
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
