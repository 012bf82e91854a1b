// kelvane-cli on a PC with three Ethernet adapters named by one pattern (--interface
// 'kv*', as a bench names its veths): two with nothing behind them, made first (so they
// rank before the target's), and the target's own, present from the start or plugged in
// while the program listens. Unnamed, the bench's veths carry no login. Also the update
// history it keeps of its downloads.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <limits.h>
#include <stdlib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

#include "fdp/FirmwareFile.h"
#include "fdp/Sha256.h"
#include "tests/e2e/Bench.h"

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kAnnounceMs = 1000;
// The bench's adapters, kv0 and the spares kvx1, kvx2, as one pattern.
constexpr const char* kBenchPattern = "kv*";

// kelvane-cli with the bench's password and the folder given; what it prints and
// complains of in one file there.
void StartCli(CliProcess& cli, const std::string& folder, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--no-progress", "--folder", folder, "--password", "kiwi"});
    cli.Start(arguments, folder + "/cli.out");
}

class AdapterChoiceE2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        KELVANE_NEED_BENCH();
        ASSERT_TRUE(Bench("unplug"));
        ASSERT_TRUE(Bench("spares up"));
    }
    void TearDown() override {
        if (IsSkipped()) return;   // no bench was touched; none is made, no sudo is asked
        sim.Stop();
        Bench("spares down");
        Bench("up");   // the other tests find the bench as they expect it
    }

    // The target's cable plugged in: its pair made again, after the spares, and the
    // simulator serving on it.
    void PlugTarget(const std::vector<std::string>& simOptions = {}) {
        ASSERT_TRUE(Bench("up"));
        std::vector<std::string> options = {"--announce-ms", std::to_string(kAnnounceMs)};
        options.insert(options.end(), simOptions.begin(), simOptions.end());
        ASSERT_TRUE(sim.Start(folder.Path(), options)) << sim.Error();
    }
    bool LoggedIn() const { return !sim.LogLines({"\"dir\":\"in\"", "\"type\":2"}).empty(); }

    TempDir folder;
    SimProcess sim;
    CliProcess cli;
};

TEST_F(AdapterChoiceE2eTest, FindsTheTargetBehindTheThirdAdapter) {
    PlugTarget();
    StartCli(cli, folder.Path(), {"--interface", kBenchPattern, "version", "boot"});
    EXPECT_EQ(cli.Wait(10s), 0) << cli.Output();
    const std::string output = cli.Output();
    EXPECT_NE(output.find("Adapter: kvx1: Ethernet adapter (virtual)\n"), std::string::npos) << output;
    EXPECT_NE(output.find("Target announced on kv0\n"), std::string::npos) << output;
    EXPECT_NE(output.find("Adapter in use: kv0, target 02:4b:56:00:00:02\n"), std::string::npos) << output;
}

TEST_F(AdapterChoiceE2eTest, FindsATargetPluggedInWhileListening) {
    StartCli(cli, folder.Path(), {"--interface", kBenchPattern, "version", "boot"});
    std::this_thread::sleep_for(2s);
    PlugTarget();
    // Counted from the simulator serving, not from the cable: making the pair and starting
    // the simulator take their own time on a loaded machine. The first or second
    // announce must do, not a later rescan of the adapters.
    const auto serving = Clock::now();
    while (!LoggedIn() && Clock::now() - serving < 10s) std::this_thread::sleep_for(5ms);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - serving);
    EXPECT_TRUE(LoggedIn());
    EXPECT_LT(took.count(), 2 * kAnnounceMs + 500) << "login " << took.count() << " ms after the target served";
    EXPECT_EQ(cli.Wait(10s), 0) << cli.Output();
    EXPECT_NE(cli.Output().find("Adapter in use: kv0, target 02:4b:56:00:00:02\n"), std::string::npos) << cli.Output();
}

TEST_F(AdapterChoiceE2eTest, AnInterfaceNamedByTheUserIsKeptEvenWhenNothingAnswersThere) {
    PlugTarget();
    StartCli(cli, folder.Path(), {"--interface", "kvx1", "version", "boot"});
    std::this_thread::sleep_for(std::chrono::milliseconds(3 * kAnnounceMs));
    EXPECT_FALSE(LoggedIn());
    EXPECT_EQ(cli.Wait(0ms), -1) << "still listening";
    const std::string output = cli.Output();
    EXPECT_EQ(output.find("Target announced"), std::string::npos) << output;
}

// Without --interface the bench's veths are virtual adapters: the target's announces are
// heard, ignored and said so once, and no login goes out.
TEST_F(AdapterChoiceE2eTest, UnnamedVirtualAdaptersCarryNoLogin) {
    PlugTarget();
    StartCli(cli, folder.Path(), {"version", "boot"});
    std::this_thread::sleep_for(std::chrono::milliseconds(4 * kAnnounceMs));
    EXPECT_FALSE(LoggedIn()) << "a login went out on a veth nobody named";
    EXPECT_EQ(cli.Wait(0ms), -1) << "still listening";
    const std::string output = cli.Output();
    const std::string notice =
        "Ignoring an announce on kv0: virtual adapters are used only when named with --interface\n";
    const auto first = output.find(notice);
    EXPECT_NE(first, std::string::npos) << output;
    EXPECT_EQ(output.find(notice, first + 1), std::string::npos) << "said more than once:\n" << output;
    EXPECT_EQ(output.find("Target announced"), std::string::npos) << output;
}

// One line per download, successful or not, that the history command shows; a line
// left half written by a crash does not spoil the next.
TEST_F(AdapterChoiceE2eTest, EveryDownloadAddsAHistoryLine) {
    const auto image = fdp::MakeSampleFirmware(3000, fdp::FirmwareVersion{9, 0, 0, 1});
    ASSERT_TRUE(WriteBytes(folder / "image.bin", image));
    PlugTarget({"--boot-version", "1.2.3.4", "--erase-status", "1"});
    StartCli(cli, folder.Path(), {"--interface", kBenchPattern, "download", "boot", folder / "image.bin"});
    EXPECT_EQ(cli.Wait(20s), 41) << cli.Output();
    {
        std::ofstream cut(folder / "history.jsonl", std::ios::app);
        cut << "{\"time\":\"2026-";
    }
    sim.Stop();
    PlugTarget({"--boot-version", "1.2.3.4"});
    StartCli(cli, folder.Path(), {"--interface", kBenchPattern, "download", "boot", folder / "image.bin"});
    EXPECT_EQ(cli.Wait(20s), 0) << cli.Output();

    std::ifstream in(folder / "history.jsonl");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 3u);
    const std::string sha = "\"sha256\":\"" + fdp::Sha256Hex(image) + "\"";
    for (std::size_t i : {0u, 2u}) {
        EXPECT_NE(lines[i].find(sha), std::string::npos) << lines[i];
        EXPECT_NE(lines[i].find("\"adapter\":\"kv0\",\"target\":\"02:4b:56:00:00:02\""), std::string::npos) << lines[i];
        EXPECT_NE(lines[i].find("\"kind\":\"boot\""), std::string::npos) << lines[i];
        EXPECT_NE(lines[i].find("\"size\":3000,"), std::string::npos) << lines[i];
        EXPECT_NE(lines[i].find("\"fileVersion\":\"9.0.0.1\",\"targetVersion\":\"1.2.3.4\""), std::string::npos)
            << lines[i];
    }
    EXPECT_NE(lines[0].find("\"stageCode\":3,\"stage\":\"Erase boot area\",\"resultCode\":1,"), std::string::npos)
        << lines[0];
    EXPECT_NE(lines[2].find("\"stageCode\":13,\"stage\":\"Burn boot area\",\"resultCode\":0,\"result\":\"successfully!\""),
              std::string::npos)
        << lines[2];

    StartCli(cli, folder.Path(), {"history", "--last", "2"});
    EXPECT_EQ(cli.Wait(5s), 0);
    const std::string table = cli.Output();
    EXPECT_EQ(table.find("Erase boot area"), std::string::npos) << table;
    // Read from the end of the file, a damaged line is shown without its number.
    EXPECT_NE(table.find("(a damaged line)"), std::string::npos) << table;
    EXPECT_NE(table.find("Burn boot area: successfully!"), std::string::npos) << table;
    EXPECT_NE(table.find(fdp::Sha256Hex(image).substr(0, 12)), std::string::npos) << table;
}

// Without CAP_NET_RAW no candidate opens: the guide text is followed by the remedy with
// the real path of the binary, in the user's language, and the exit code is 2.
TEST(PrivilegeE2eTest, WithoutRawFramesTheRemedyIsPrinted) {
    KELVANE_NEED_BENCH();
    const std::string binary = std::string(KELVANE_BIN_DIR) + "/kelvane-cli";
    char real[4096];
    ASSERT_NE(::realpath(binary.c_str(), real), nullptr);
    struct Case {
        const char* lang;
        std::vector<std::string> fragments;
    };
    const Case cases[] = {
        {"en_US.UTF-8",
         {"Open default adapter or Usb device failed.", "needs the right to send and capture raw frames",
          "or run it as root: ", std::string("sudo setcap cap_net_raw+ep \"") + real + "\"\n"}},
        {"zh_CN.UTF-8",
         {"打开默认的网卡或USB设备失败。", "需要收发原始以太网帧的权限", "执行一次以下命令为本程序永久授予该权限",
          std::string("sudo setcap cap_net_raw+ep \"") + real + "\"\n"}},
    };
    TempDir folder;
    for (const Case& c : cases) {
        // setpriv drops the capability from the bounding set: the program runs as root
        // but cannot open a raw socket.
        const std::string command = "LANGUAGE= LC_ALL= LC_MESSAGES= LANG=" + std::string(c.lang) +
                                    " setpriv --bounding-set -net_raw " + binary + " --no-progress --folder " +
                                    folder.Path() + " version boot 2>&1";
        FILE* pipe = ::popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string output;
        char chunk[512];
        while (const std::size_t n = std::fread(chunk, 1, sizeof chunk, pipe)) output.append(chunk, n);
        const int status = ::pclose(pipe);
        ASSERT_TRUE(WIFEXITED(status)) << output;
        EXPECT_EQ(WEXITSTATUS(status), 2) << c.lang << "\n" << output;
        for (const auto& fragment : c.fragments)
            EXPECT_NE(output.find(fragment), std::string::npos) << c.lang << ": " << fragment << "\n" << output;
    }
}

// The capability lines of a process's status, e.g. "CapEff:\t0000000000000000".
std::vector<std::string> CapabilityLines(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::vector<std::string> lines;
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("CapInh:") || line.starts_with("CapPrm:") || line.starts_with("CapEff:") ||
            line.starts_with("CapAmb:"))
            lines.push_back(line);
    return lines;
}

// A user who is given CAP_NET_RAW by the program file (as the package does for the group
// kelvane) holds it only for the opening of the packet socket: while kelvane-cli waits
// for an announce it has no capability left, and it still logs in with that socket.
TEST(PrivilegeE2eTest, NoCapabilityIsLeftWhileWaitingForATarget) {
    KELVANE_NEED_BENCH();
    if (std::system("command -v setcap >/dev/null") != 0) GTEST_SKIP() << "setcap is not installed";
    TempDir place;
    ASSERT_EQ(::chmod(place.Path().c_str(), 0755), 0);
    const std::string copy = place / "kelvane-cli";
    ASSERT_EQ(std::system(("cp " + std::string(KELVANE_BIN_DIR) + "/kelvane-cli " + copy).c_str()), 0);
    ASSERT_EQ(std::system(("setcap cap_net_raw+ep " + copy).c_str()), 0);
    const std::string work = place / "work";
    ASSERT_EQ(::mkdir(work.c_str(), 0700), 0);
    ASSERT_EQ(::chown(work.c_str(), 65534, 65534), 0);
    const std::string output = place / "cli.out";

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(out, STDERR_FILENO);
        if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
            ::setresuid(65534, 65534, 65534) != 0)
            ::_exit(126);
        ::setenv("HOME", work.c_str(), 1);
        const char* argv[] = {copy.c_str(), "--no-progress", "--folder", work.c_str(), "--password", "kiwi",
                              "--interface", kPcInterface, "version", "boot", nullptr};
        ::execv(argv[0], const_cast<char* const*>(argv));
        ::_exit(127);
    }
    struct Reaper {
        pid_t pid;
        ~Reaper() {
            if (::waitpid(pid, nullptr, WNOHANG) == 0) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
        }
    } reaper{child};
    // Listening once the engine's worker and receiver threads run.
    const auto printedSoFar = [&] {
        std::ifstream in(output);
        return std::string{std::istreambuf_iterator<char>(in), {}};
    };
    const auto threads = [&] {
        std::ifstream in("/proc/" + std::to_string(child) + "/status");
        for (std::string line; std::getline(in, line);)
            if (line.starts_with("Threads:")) return std::atoi(line.c_str() + 8);
        return 0;
    };
    int status = 0;
    for (const auto until = Clock::now() + 20s; threads() < 3 && Clock::now() < until;) std::this_thread::sleep_for(20ms);
    std::this_thread::sleep_for(200ms);
    const auto lines = CapabilityLines(child);
    ASSERT_EQ(::waitpid(child, &status, WNOHANG), 0) << "kelvane-cli ended early: " << printedSoFar();
    ASSERT_EQ(lines.size(), 4u);
    for (const std::string& line : lines) EXPECT_TRUE(line.ends_with("\t0000000000000000")) << line;

    SimProcess sim;
    ASSERT_TRUE(sim.Start(place.Path(), {"--announce-ms", "500"})) << sim.Error();
    const auto deadline = Clock::now() + 30s;
    while (::waitpid(child, &status, WNOHANG) == 0 && Clock::now() < deadline) std::this_thread::sleep_for(20ms);
    const std::string printed = printedSoFar();
    ASSERT_TRUE(WIFEXITED(status)) << printed;
    EXPECT_EQ(WEXITSTATUS(status), 0) << printed;
    EXPECT_NE(printed.find("boot version: "), std::string::npos) << printed;
    sim.Stop();
}

}  // namespace
}  // namespace e2e
