// The loop test for real: kelvane-cli with a dongle and the simulator with its Bluetooth
// module, both controllers emulated by BlueZ's btvirt. btvirt's server sockets have
// fixed names in /tmp, so the suite runs its own btvirt in a private mount namespace
// whose /tmp is a folder of the suite's own; the simulator and the program under test
// reach the sockets through that folder. They run outside the namespace, because its
// /tmp hides whatever the real /tmp holds, the build tree among them when it lives there.
// Between the dongle and btvirt sits a proxy that reads the commands on their way to
// the controller, so the test sees the role byte the controller was given.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <algorithm>
#include <optional>
#include <thread>

#include "hci/H4Reassembler.h"
#include "tests/e2e/Bench.h"

namespace e2e {
namespace {

// btvirt -s in a mount namespace of its own, with `folder` as its /tmp; the namespace
// lives as long as btvirt.
class BtServer {
public:
    explicit BtServer(std::string folder) : m_folder(std::move(folder)) {}
    bool Start() {
        m_pid = ::fork();
        if (m_pid == 0) {
            // Its chatter is of no use to the tests.
            const int log = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
            if (log >= 0) {
                ::dup2(log, STDOUT_FILENO);
                ::dup2(log, STDERR_FILENO);
            }
            ::execlp("unshare", "unshare", "-m", "--propagation", "private", "sh", "-c",
                     "mount --bind \"$0\" /tmp && exec btvirt -s -l0", m_folder.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            if (std::filesystem::exists(Socket())) return true;
            if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    ~BtServer() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    // btvirt's BR/EDR controller socket, as seen from outside its namespace.
    std::string Socket() const { return m_folder + "/bt-server-bredr"; }

private:
    std::string m_folder;
    pid_t m_pid = -1;
};

int UnixSocket(const std::string& path, bool listen) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const auto* sa = reinterpret_cast<const sockaddr*>(&address);
    const bool ok = listen ? ::bind(fd, sa, sizeof address) == 0 && ::listen(fd, 4) == 0
                           : ::connect(fd, sa, sizeof address) == 0;
    if (!ok) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Passes one dongle connection through to btvirt, noting the role byte of every
// Accept_Connection_Request on its way to the controller; hangs up on both sides after
// hangUpAfter, when given, as a controller unplugged.
class DongleProxy {
public:
    DongleProxy(const std::string& path, const std::string& upstream,
                std::optional<std::chrono::milliseconds> hangUpAfter = std::nullopt)
        : m_upstream(upstream), m_hangUpAfter(hangUpAfter) {
        m_listen = UnixSocket(path, true);
        m_stop = ::eventfd(0, EFD_CLOEXEC);
        m_thread = std::thread([this] { Main(); });
    }
    ~DongleProxy() {
        ::eventfd_write(m_stop, 1);
        m_thread.join();
        ::close(m_listen);
        ::close(m_stop);
    }
    bool Listening() const { return m_listen >= 0; }
    std::vector<std::uint8_t> AcceptRoles() {
        std::lock_guard lock(m_lock);
        return m_roles;
    }

private:
    void Main() {
        pollfd wait[2] = {{m_listen, POLLIN, 0}, {m_stop, POLLIN, 0}};
        if (::poll(wait, 2, -1) <= 0 || (wait[1].revents & POLLIN)) return;
        const int host = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        const int controller = UnixSocket(m_upstream, false);
        hci::CH4Reassembler commands;
        std::uint8_t chunk[4096];
        const auto hangUp = std::chrono::steady_clock::now() + m_hangUpAfter.value_or(std::chrono::hours(1));
        for (;;) {
            pollfd fds[3] = {{host, POLLIN, 0}, {controller, POLLIN, 0}, {m_stop, POLLIN, 0}};
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(hangUp - std::chrono::steady_clock::now());
            const int ready = ::poll(fds, 3, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
            if (ready == 0 || ready < 0 || (fds[2].revents & POLLIN)) break;
            const bool fromHost = fds[0].revents != 0;
            const int from = fromHost ? host : controller;
            const ssize_t n = ::read(from, chunk, sizeof chunk);
            if (n <= 0) break;
            if (::write(fromHost ? controller : host, chunk, static_cast<std::size_t>(n)) != n) break;
            if (!fromHost) continue;
            commands.Feed(std::span(chunk, static_cast<std::size_t>(n)), [this](std::span<const std::uint8_t> packet) {
                // 4 unused, 01, opcode 09 04, length 7, address, role
                if (packet.size() == 15 && packet[4] == 0x01 && packet[5] == 0x09 && packet[6] == 0x04) {
                    std::lock_guard lock(m_lock);
                    m_roles.push_back(packet[14]);
                }
            });
        }
        ::close(host);
        if (controller >= 0) ::close(controller);
    }

    std::string m_upstream;
    std::optional<std::chrono::milliseconds> m_hangUpAfter;
    int m_listen = -1;
    int m_stop = -1;
    std::thread m_thread;
    std::mutex m_lock;
    std::vector<std::uint8_t> m_roles;
};

// A socket that takes every connection and hangs up on it at once: a dongle server
// that went away.
class HangUpServer {
public:
    explicit HangUpServer(const std::string& path) {
        m_listen = UnixSocket(path, true);
        m_stop = ::eventfd(0, EFD_CLOEXEC);
        m_thread = std::thread([this] {
            for (;;) {
                pollfd fds[2] = {{m_listen, POLLIN, 0}, {m_stop, POLLIN, 0}};
                if (::poll(fds, 2, -1) <= 0 || (fds[1].revents & POLLIN)) return;
                const int client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
                if (client >= 0) ::close(client);
            }
        });
    }
    ~HangUpServer() {
        ::eventfd_write(m_stop, 1);
        m_thread.join();
        ::close(m_listen);
        ::close(m_stop);
    }

private:
    int m_listen = -1;
    int m_stop = -1;
    std::thread m_thread;
};

struct LoopCase {
    const char* name;
    std::string arguments;                 // after looptest
    std::vector<std::string> simOptions;
    int exitCode;
    std::vector<std::string> lines;        // each must appear in the output
    std::optional<std::uint8_t> role;      // the accept's role byte the controller saw
    std::string dongle = "PROXY";          // PROXY: through the proxy to btvirt; HANGUP: a server that hangs up
    std::chrono::milliseconds atLeast{0};  // the run takes no less
    bool simRadioHangsUp = false;          // the simulator's controller goes away before the run
    std::optional<std::chrono::milliseconds> dongleHangsUpAfter{};  // the proxy hangs up on the dongle
};

void PrintTo(const LoopCase& c, std::ostream* os) { *os << c.name; }

class LoopE2eTest : public ::testing::TestWithParam<LoopCase> {
protected:
    static void SetUpTestSuite() {
        if (BenchProblem() || ::access("/usr/bin/btvirt", X_OK) != 0) return;
        s_folder = new TempDir("/var/tmp");
        s_server = new BtServer(s_folder->Path());
        if (!s_server->Start()) {
            delete s_server;
            s_server = nullptr;
        }
    }
    static void TearDownTestSuite() {
        delete s_server;
        s_server = nullptr;
        delete s_folder;
        s_folder = nullptr;
    }
    void SetUp() override {
        std::optional<std::string> problem = BenchProblem();
        if (!problem && ::access("/usr/bin/btvirt", X_OK) != 0) problem = "btvirt is missing (package bluez-test-tools)";
        if (!problem && !s_server) problem = "btvirt -s did not start in a private mount namespace";
        if (problem) {
            if (std::getenv("CI")) FAIL() << "loop bench not usable: " << *problem;
            GTEST_SKIP() << *problem;
        }
    }

    static TempDir* s_folder;
    static BtServer* s_server;
};
TempDir* LoopE2eTest::s_folder = nullptr;
BtServer* LoopE2eTest::s_server = nullptr;

TEST_P(LoopE2eTest, RunsTheLoopTestBetweenTheSimulatorAndTheDongle) {
    const LoopCase& c = GetParam();
    TempDir folder("/var/tmp");
    DongleProxy proxy(folder / "dongle.sock", s_server->Socket(), c.dongleHangsUpAfter);
    ASSERT_TRUE(proxy.Listening());
    HangUpServer hangUp(folder / "hangup.sock");
    std::optional<DongleProxy> radio;
    if (c.simRadioHangsUp) radio.emplace(folder / "radio.sock", s_server->Socket(), std::chrono::milliseconds(300));
    SimProcess sim;
    std::vector<std::string> simOptions = {"--password", "kiwi", "--bt",
                                           "unix:" + (radio ? folder / "radio.sock" : s_server->Socket())};
    simOptions.insert(simOptions.end(), c.simOptions.begin(), c.simOptions.end());
    ASSERT_TRUE(sim.Start(folder.Path(), simOptions)) << sim.Error();
    if (radio) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (sim.LogLines({"bt lost"}).empty() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_FALSE(sim.LogLines({"bt lost"}).empty()) << "the simulator did not notice its controller go";
    }

    const std::string dongle = c.dongle == "PROXY"    ? "unix:" + (folder / "dongle.sock")
                               : c.dongle == "HANGUP" ? "unix:" + (folder / "hangup.sock")
                                                      : c.dongle;
    std::string command = std::string(KELVANE_BIN_DIR) + "/kelvane-cli --no-progress --interface " + kPcInterface +
               " --password kiwi --folder " + folder.Path() + " --dongle " + dongle + " looptest " + c.arguments +
               " 2>&1";
    std::string output;
    const auto started = std::chrono::steady_clock::now();
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char chunk[512];
    while (const std::size_t n = std::fread(chunk, 1, sizeof chunk, pipe)) output.append(chunk, n);
    const int status = ::pclose(pipe);
    EXPECT_GE(std::chrono::steady_clock::now() - started, c.atLeast);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, c.exitCode) << output;
    for (const std::string& line : c.lines) EXPECT_NE(output.find(line), std::string::npos) << line << "\n" << output;
    if (c.role) {
        EXPECT_EQ(proxy.AcceptRoles(), std::vector<std::uint8_t>{*c.role}) << output;
    }
    EXPECT_TRUE(sim.Stop());
}

const std::string kLostNothing = "---------------Lost rate is: 0.000000%!\n";
const std::string kLostAFifth = "---------------Lost rate is: 20.000000%!\n";
const std::string kNoDongle = " There is no USB device in the port or the usb port is used by other program!";
const std::string kConnected = "-------------ACL connection is established successfully!";

INSTANTIATE_TEST_SUITE_P(
    Runs, LoopE2eTest,
    ::testing::Values(
        LoopCase{"TargetToDongle1At10Master", "target --size 1 --speed 10 --master", {}, 0,
                 {kConnected, "Transferring data from Target to Dongle...", kLostNothing}, 0x00},
        LoopCase{"TargetToDongle1000At10Slave", "target --size 1000 --speed 10 --slave", {}, 0, {kLostNothing}, 0x01},
        LoopCase{"TargetToDongle1At80", "target --size 1 --speed 80", {}, 0, {kLostNothing}, 0x01},
        LoopCase{"TargetToDongle1000At80Master", "target --size 1000 --speed 80 --master", {}, 0, {kLostNothing}, 0x00},
        LoopCase{"DongleToTarget1At10Slave", "dongle --size 1 --speed 10", {}, 0,
                 {kConnected, "Transferring data from Dongle to Target...", kLostNothing}, 0x01},
        LoopCase{"DongleToTarget1000At10Master", "dongle --size 1000 --speed 10 --master", {}, 0, {kLostNothing}, 0x00},
        LoopCase{"DongleToTarget1At80Master", "dongle --size 1 --speed 80 --master", {}, 0, {kLostNothing}, 0x00},
        LoopCase{"DongleToTarget1000At80Slave", "dongle --size 1000 --speed 80 --slave", {}, 0, {kLostNothing}, 0x01},
        LoopCase{"TargetTestMode", "target-testmode", {}, 0, {"Target has been under the Test Mode!"}, std::nullopt},
        LoopCase{"DongleTestMode", "dongle-testmode", {}, 0, {"Dongle has been under the Test Mode!"}, std::nullopt},
        LoopCase{"RadioOff", "target --size 10 --speed 10", {"--bt-radio", "off"}, 5,
                 {"Timeout and ACL connection is not established in 4 seconds!"}, std::nullopt, "PROXY",
                 std::chrono::milliseconds(4000)},
        LoopCase{"NoSuchDongle", "dongle --size 10 --speed 10", {}, 4, {kNoDongle, "kelvane-no-such-dongle"},
                 std::nullopt, "unix:/var/tmp/kelvane-no-such-dongle"},
        // 250 bytes go as 100, 100 and 50; the radio keeps back the last 50.
        LoopCase{"TargetToDongle250Withholding50", "target --size 250 --speed 10", {"--bt-withhold", "50"}, 0,
                 {kLostAFifth}, 0x01},
        LoopCase{"DongleToTarget250Withholding50", "dongle --size 250 --speed 10 --master", {"--bt-withhold", "50"}, 0,
                 {kLostAFifth}, 0x00},
        LoopCase{"TargetToDongle3Withholding2", "target --size 3 --speed 10", {"--bt-withhold", "2"}, 0,
                 {"---------------Lost rate is: 66.666667%!\n"}, 0x01},
        // A dongle whose server hangs up: a message and exit 4, not death by SIGPIPE.
        LoopCase{"DongleHangsUpInTestMode", "dongle-testmode", {}, 4, {kNoDongle, "the dongle closed its channel"},
                 std::nullopt, "HANGUP"},
        LoopCase{"DongleHangsUpBeforeADataRun", "target --size 10 --speed 10", {}, 4,
                 {kNoDongle, "the dongle closed its channel"}, std::nullopt, "HANGUP"},
        // Gone while the connection settles: the run stops there with the reason.
        LoopCase{"DongleHangsUpInARun", "dongle --size 10 --speed 10", {}, 4,
                 {kConnected, "The dongle is lost (the dongle closed its channel)"}, std::nullopt, "PROXY",
                 std::chrono::milliseconds(0), false, std::chrono::milliseconds(1500)},
        // The simulator outlives its own controller: no connection, and it ends cleanly.
        LoopCase{"SimulatorsControllerGone", "target --size 10 --speed 10", {}, 5,
                 {"Timeout and ACL connection is not established in 4 seconds!"}, std::nullopt, "PROXY",
                 std::chrono::milliseconds(4000), true}),
    [](const ::testing::TestParamInfo<LoopCase>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace e2e
