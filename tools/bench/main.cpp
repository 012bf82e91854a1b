// kelvane-bench: link figures on the veth bench (scripts/bench up).
//  (a) the raw round trip: ping-pong frames between two packet sockets, one in each
//      namespace, the floor of any stop-and-wait protocol on this stack;
//  (b) a whole program download through the engine to kelvane-nap-sim, with erase and
//      burn, its time per block set against (a), the CPU time of the engine's threads,
//      busy and over an idle link, and the simulator's CPU time per block;
//  (c) the same download against the benchmark's own echo target, which acknowledges
//      every block at once with no model behind it: the engine's own cost, whose goal
//      is at most 1.5 raw round trips per block;
//  (d) the engine listening on every candidate adapter of the PC side while no target
//      answers (scripts/bench-run adds three spare adapters: four candidates): its
//      threads' CPU time, whose goal is below 0.5 % of a core.
// Runs itself inside the PC namespace; the far ends run in the target namespace.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fdp/LinkSession.h"
#include "fdp/RequestFrontEnd.h"
#include "fdp/PacketSocketDriver.h"
#include "tools/bench/BenchFrontEnd.h"
#include "tools/bench/EchoTarget.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using bench::Clock;

constexpr std::uint8_t kPing = 0x7E;   // frame types no link end takes
constexpr std::uint8_t kPong = 0x7F;
constexpr std::uint32_t kDefaultImage = 2023424;
constexpr const char* kPcInterface = "kv0";
constexpr const char* kNapInterface = "kv1";
// The engine's own cost: a block through it against the echo target takes at most this
// many raw round trips.
constexpr double kEngineGoal = 1.5;

std::string EnvOr(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

std::string SelfPath() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    path[n] = '\0';
    return path;
}

bool InNamespace(const std::string& ns) {
    struct stat a {}, b {};
    return ::stat("/proc/self/ns/net", &a) == 0 && ::stat(("/run/netns/" + ns).c_str(), &b) == 0 &&
           a.st_ino == b.st_ino && a.st_dev == b.st_dev;
}

// Starts `ip netns exec NS args…`; stdoutFd and stderrFd, when given, replace the
// child's stdout and stderr.
pid_t SpawnIn(const std::string& ns, std::vector<std::string> args, int stdoutFd = -1, int stderrFd = -1) {
    args.insert(args.begin(), {"ip", "netns", "exec", ns});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
    if (stderrFd >= 0) posix_spawn_file_actions_adddup2(&actions, stderrFd, STDERR_FILENO);
    pid_t pid = -1;
    if (posix_spawnp(&pid, "ip", &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void StopChild(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 300 && ::waitpid(pid, &status, WNOHANG) != pid; ++i) std::this_thread::sleep_for(10ms);
    if (::kill(pid, 0) == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
}

// CPU time of one thread of this process, from its per-thread CPU clock.
double ThreadCpuMs(pid_t tid) {
    const clockid_t clock = static_cast<clockid_t>((~static_cast<unsigned>(tid) << 3) | 6);
    timespec ts{};
    if (::clock_gettime(clock, &ts) != 0) return -1;
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// CPU time of another process, all its threads: the scheduler's nanosecond account
// where the kernel keeps one, else the coarser user and system ticks. Negative when the
// process cannot be read.
double ProcessCpuMs(pid_t pid) {
    const std::string proc = "/proc/" + std::to_string(pid);
    std::error_code error;
    double ns = 0;
    bool scheduled = false;
    for (const auto& task : std::filesystem::directory_iterator(proc + "/task", error)) {
        std::ifstream schedstat(task.path() / "schedstat");
        unsigned long long onCpu = 0;
        if (schedstat >> onCpu) {
            ns += static_cast<double>(onCpu);
            scheduled = true;
        }
    }
    if (scheduled) return ns / 1e6;
    std::ifstream stat(proc + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return -1;
    // Fields after the command's closing parenthesis: state is field 3, utime 14, stime 15.
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) * 1e3 / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

std::set<pid_t> Tasks() {
    std::set<pid_t> tasks;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
        tasks.insert(static_cast<pid_t>(std::stol(entry.path().filename().string())));
    return tasks;
}

// The PC's side goes through a link broker as the programs do; the far end of (a) plays
// a device, which has none.
bool OpenDriver(fdp::CPacketSocketDriver& driver, const char* interfaceName, bool targetSide = false) {
    if (targetSide) driver.UseOwnSocket();
    driver.Init(nullptr);
    driver.SetInterfaceFilter(interfaceName);
    if (driver.EnumerateAdapters() < 1 || driver.OpenAdapter(0) != fdp::OpenOk) {
        std::fprintf(stderr, "kelvane-bench: cannot open %s: %s\n", interfaceName, driver.LastError().c_str());
        return false;
    }
    return true;
}

// The far end of (a): answers every ping with a short pong to its sender.
int RunEcho(const char* interfaceName) {
    fdp::CPacketSocketDriver driver;
    if (!OpenDriver(driver, interfaceName, true)) return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    std::uint8_t pong[fdp::kMinPayload] = {kPong};
    for (;;) {
        std::uint32_t count = 0;
        const std::uint8_t* data = driver.ReceiveFrames(count);
        fdp::ForEachCapturedFrame(data, count, [&](std::span<const std::uint8_t> frame) {
            if (frame.size() < 19 || frame[14] != kPing) return true;
            std::memcpy(pong + 1, frame.data() + 15, 4);
            driver.SendFrame(frame.data() + 6, pong, sizeof pong);
            return true;
        });
    }
}

struct RoundTrips {
    std::vector<double> us;   // sorted
    int lost = 0;
    double Median() const { return us.empty() ? 0 : us[us.size() / 2]; }
    double Percentile(double p) const {
        return us.empty() ? 0 : us[std::min(us.size() - 1, static_cast<std::size_t>(p * static_cast<double>(us.size())))];
    }
    double Mean() const { return us.empty() ? 0 : std::accumulate(us.begin(), us.end(), 0.0) / static_cast<double>(us.size()); }
};

RoundTrips PingPong(fdp::CPacketSocketDriver& driver, const std::uint8_t* peer, std::size_t payloadLen, int count) {
    RoundTrips result;
    std::vector<std::uint8_t> ping(payloadLen, 0x5A);
    ping[0] = kPing;
    for (int i = -50; i < count; ++i) {   // the first 50 warm the path up
        const auto seq = static_cast<std::uint32_t>(i + 50);
        fdp::WriteLe32(&ping[1], seq);
        const auto sent = Clock::now();
        if (!driver.SendFrame(peer, ping.data(), static_cast<std::uint16_t>(ping.size()))) {
            ++result.lost;
            continue;
        }
        bool answered = false;
        while (!answered && Clock::now() - sent < 1s) {
            std::uint32_t n = 0;
            const std::uint8_t* data = driver.ReceiveFrames(n);
            fdp::ForEachCapturedFrame(data, n, [&](std::span<const std::uint8_t> frame) {
                answered = answered || (frame.size() >= 19 && frame[14] == kPong && fdp::ReadLe32(&frame[15]) == seq);
                return true;
            });
        }
        if (!answered) {
            if (i >= 0) ++result.lost;
            continue;
        }
        if (i >= 0) result.us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
    }
    std::sort(result.us.begin(), result.us.end());
    return result;
}

void PrintRtt(const char* what, const RoundTrips& r) {
    std::printf("    %-28s median %6.1f us   min %6.1f   p99 %7.1f   mean %6.1f   lost %d\n", what, r.Median(),
                r.us.empty() ? 0 : r.us.front(), r.Percentile(0.99), r.Mean(), r.lost);
}

// One far end of a download: the command that starts it in the target namespace.
struct Target {
    const char* label;
    const char* title;
    const char* cpuName;
    std::vector<std::string> command;
    std::string storedImage;   // where the target keeps the burnt image; empty: it keeps none
};

struct DownloadContext {
    const std::string& folder;
    const std::string& napNs;
    const std::vector<std::uint8_t>& image;
    const std::string& imagePath;
    const RoundTrips& rtt;     // (a) with block-sized frames
};

// Starts the engine on the driver with the front end's link files in folder, its events
// going to sink; returns the threads the engine started, for their CPU time.
std::vector<pid_t> StartEngine(fdp::CRequestFrontEnd& link, bench::CBenchFrontEnd& sink, fdp::CPacketSocketDriver& driver,
                               fdp::CLinkSession& engine, const std::string& folder) {
    link.SetSink(&sink);
    link.SetProgramFolder(folder);
    link.StartLink();
    const auto before = Tasks();
    engine.Start(&driver, &link);
    link.SetLink(&engine, &driver);
    std::vector<pid_t> engineThreads;
    for (const pid_t tid : Tasks())
        if (!before.count(tid)) engineThreads.push_back(tid);
    return engineThreads;
}

// A whole program download through a fresh engine against the target, with erase and
// burn; prints its figures. The median time per block in microseconds, or nothing when
// the download failed. With idleSeconds, the engine's threads are then watched idle.
std::optional<double> DownloadThroughEngine(const Target& target, const DownloadContext& c, int idleSeconds) {
    const int targetOut = ::open((c.folder + "/target.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t far = SpawnIn(c.napNs, target.command, targetOut, targetOut);
    if (targetOut >= 0) ::close(targetOut);
    if (far <= 0) {
        std::fprintf(stderr, "kelvane-bench: cannot start the %s in %s\n", target.cpuName, c.napNs.c_str());
        return std::nullopt;
    }

    fdp::CRequestFrontEnd link;
    bench::CBenchFrontEnd front;
    fdp::CPacketSocketDriver driver;
    fdp::CLinkSession engine;
    driver.SetInterfaceFilter(kPcInterface);
    std::vector<pid_t> engineThreads = StartEngine(link, front, driver, engine, c.folder);
    auto fail = [&](const char* why) {
        std::printf("%s program download %s FAILED: %s\n", target.label, target.title, why);
        engine.Stop();
        link.ShutdownLink();
        StopChild(far);
        return std::nullopt;
    };
    if (engine.EnumerateAdapters() < 1 || engine.OpenAdapter(0) != fdp::OpenOk) return fail("cannot open the adapter");
    link.SetAdapter(0, 1, true);
    link.SetPassword("kiwi");
    link.Listen();
    // The target is serving once its announce has let the engine log in.
    const auto connected = front.WaitFor([](const auto& e) { return !e.report && e.code == fdp::JobListen; }, 10s);
    if (!connected || connected->result != fdp::ConnectOk) return fail("no connection");
    // A session of its own starts its dispatcher's receiver, then its worker.
    std::sort(engineThreads.begin(), engineThreads.end());
    const pid_t receiver = engineThreads.size() == 2 ? engineThreads[0] : 0;
    const pid_t worker = engineThreads.size() == 2 ? engineThreads[1] : 0;

    const double workerBefore = ThreadCpuMs(worker), receiverBefore = ThreadCpuMs(receiver);
    const double farBefore = ProcessCpuMs(far);
    const auto started = Clock::now();
    front.Clear();
    link.StartDownload(fdp::KindProgram, c.imagePath);
    auto stageAt = [&](unsigned stage) {
        return front.WaitFor([stage](const auto& e) { return e.report && e.code == stage; }, 200s);
    };
    const auto transferEnd = stageAt(63);
    const int transferResult = transferEnd ? static_cast<int>(transferEnd->result) : -1;
    std::optional<bench::CBenchFrontEnd::Event> burnEnd;
    if (transferResult == 0) burnEnd = stageAt(33);
    const int burnResult = burnEnd ? static_cast<int>(burnEnd->result) : -1;
    const auto eraseStart = front.WaitFor([](const auto& e) { return e.report && e.code == 21; }, 0ms);
    const double workerBusy = ThreadCpuMs(worker) - workerBefore;
    const double receiverBusy = ThreadCpuMs(receiver) - receiverBefore;
    const double farBusy = ProcessCpuMs(far) - farBefore;
    if (transferResult != 0 || burnResult != 0) {
        char why[64];
        std::snprintf(why, sizeof why, "transfer %d, burn %d", transferResult, burnResult);
        return fail(why);
    }

    const std::size_t blocks = (c.image.size() + fdp::kBlockDataLen - 1) / fdp::kBlockDataLen;
    const double totalMs = std::chrono::duration<double, std::milli>(burnEnd->when - started).count();
    const double transferMs = std::chrono::duration<double, std::milli>(transferEnd->when - started).count();
    const double flashMs =
        eraseStart ? std::chrono::duration<double, std::milli>(burnEnd->when - eraseStart->when).count() : 0;
    const double perBlockUs = transferMs * 1000.0 / static_cast<double>(blocks);
    const double floorMs = static_cast<double>(blocks) * c.rtt.Median() / 1000.0;
    std::string stored;
    bool identical = true;
    if (!target.storedImage.empty()) {
        std::ifstream in(target.storedImage, std::ios::binary);
        const std::vector<std::uint8_t> burnt{std::istreambuf_iterator<char>(in), {}};
        identical = burnt == c.image;
        stored = identical ? " (stored image identical)" : " (STORED IMAGE DIFFERS)";
    }
    std::printf("%s program download %s\n", target.label, target.title);
    std::printf("    %zu bytes in %zu blocks, start to burnt: %.1f ms%s\n", c.image.size(), blocks, totalMs,
                stored.c_str());
    std::printf("    transfer %.1f ms = %.1f us per block; erase + burn %.1f ms\n", transferMs, perBlockUs, flashMs);
    std::printf("    ratio transfer / (blocks x median RTT of a) = %.1f ms / %.1f ms = %.2f\n", transferMs, floorMs,
                transferMs / floorMs);
    // Block by block: one acknowledged block to the next is one stop-and-wait step.
    const auto times = front.BlockTimes();
    std::vector<double> steps;
    for (std::size_t i = 1; i < times.size(); ++i)
        steps.push_back(std::chrono::duration<double, std::micro>(times[i] - times[i - 1]).count());
    std::sort(steps.begin(), steps.end());
    const double median = steps.empty() ? perBlockUs : steps[steps.size() / 2];
    if (!steps.empty()) {
        double mean = 0;
        for (const double us : steps) mean += us;
        mean /= static_cast<double>(steps.size());
        std::printf("    per block: median %.1f us, mean %.1f us, p99 %.1f us\n", median, mean,
                    steps[steps.size() * 99 / 100]);
        std::printf("    ratio per block / RTT of a: medians %.2f, means %.2f\n", median / c.rtt.Median(),
                    mean / c.rtt.Mean());
    }
    std::printf("    CPU during the download: worker %.1f ms, receiver %.1f ms (of %.1f ms wall)\n", workerBusy,
                receiverBusy, totalMs);
    if (farBusy >= 0) {
        std::printf("    %s CPU %.1f ms = %.1f us per block\n", target.cpuName, farBusy,
                    farBusy * 1000.0 / static_cast<double>(blocks));
    }

    if (idleSeconds > 0) {
        const double idleBefore = ThreadCpuMs(receiver), idleWorkerBefore = ThreadCpuMs(worker);
        std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
        const double idleReceiver = ThreadCpuMs(receiver) - idleBefore;
        const double idleWorker = ThreadCpuMs(worker) - idleWorkerBefore;
        std::printf("idle link for %d s: receiver CPU %.3f ms (%.4f %%), worker CPU %.3f ms\n", idleSeconds,
                    idleReceiver, idleReceiver / (idleSeconds * 10.0), idleWorker);
    }
    engine.Stop();
    link.ShutdownLink();
    StopChild(far);
    if (!identical) return std::nullopt;
    return median;
}

// (d) The link listening for a target on every candidate adapter of the PC namespace
// while none answers: one capture per candidate, all waited on in one poll, so the
// engine's threads should cost next to nothing. Prints their CPU time over `seconds`.
bool IdleScouting(const std::string& folder, int seconds) {
    fdp::CRequestFrontEnd link;
    bench::CBenchFrontEnd front;
    fdp::CPacketSocketDriver driver;
    fdp::CLinkSession engine;
    driver.SetInterfaceFilter("kv*");   // the bench's veths, which carry a login only when named
    const std::vector<pid_t> engineThreads = StartEngine(link, front, driver, engine, folder);
    const bool opened = link.OpenFirstAdapter() >= 0;
    std::string names;
    int candidates = 0;
    for (std::string name; !(name = driver.GetAdapterName(candidates)).empty(); ++candidates)
        names += (candidates ? ", " : "") + name;
    if (!opened) {
        std::printf("(d) idle listening FAILED: no adapter opened (%s)\n", driver.LastError().c_str());
        engine.Stop();
        link.ShutdownLink();
        return false;
    }
    link.SetPassword("kiwi");
    link.Listen();
    // Once the watches are open and the receiver waits.
    std::this_thread::sleep_for(200ms);
    double cpuBefore = 0;
    for (const pid_t tid : engineThreads) cpuBefore += ThreadCpuMs(tid);
    const auto started = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double wallMs = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
    double cpu = -cpuBefore;
    for (const pid_t tid : engineThreads) cpu += ThreadCpuMs(tid);
    const double percent = cpu * 100.0 / wallMs;
    std::printf("(d) listening for a target on %d candidate adapters (%s), none answering, for %.1f s:\n", candidates,
                names.c_str(), wallMs / 1000.0);
    std::printf("    engine threads CPU %.3f ms = %.4f %% of a core (goal < 0.5 %%)\n", cpu, percent);
    engine.Stop();
    link.ShutdownLink();
    return percent < 0.5;
}

struct Options {
    int count = 2000;
    std::uint32_t imageSize = kDefaultImage;
    int idleSeconds = 5;
};

int Run(const Options& options) {
    const std::string napNs = EnvOr("KELVANE_NAP_NS", "kvnap");
    const std::uint8_t napAddress[6] = {0x02, 0x4b, 0x56, 0x00, 0x00, 0x02};
    char folderPattern[] = "/tmp/kelvane-bench-XXXXXX";
    if (!::mkdtemp(folderPattern)) return 1;
    const std::string folder = folderPattern;
    std::printf("kelvane-bench on %s/%s <-> %s/%s\n", EnvOr("KELVANE_PC_NS", "kvpc").c_str(), kPcInterface,
                napNs.c_str(), kNapInterface);

    // (a) raw round trip.
    RoundTrips blockSized, small;
    {
        int pipeFds[2];
        if (::pipe(pipeFds) != 0) return 1;
        const pid_t echo = SpawnIn(napNs, {SelfPath(), "--echo", kNapInterface}, pipeFds[1]);
        ::close(pipeFds[1]);
        char ready[16] = {};
        const ssize_t got = echo > 0 ? ::read(pipeFds[0], ready, sizeof ready - 1) : -1;
        ::close(pipeFds[0]);
        if (got <= 0 || std::strncmp(ready, "ready", 5) != 0) {
            std::fprintf(stderr, "kelvane-bench: the echo end did not start in %s\n", napNs.c_str());
            StopChild(echo);
            return 1;
        }
        fdp::CPacketSocketDriver driver;
        if (!OpenDriver(driver, kPcInterface)) {
            StopChild(echo);
            return 1;
        }
        // A data block of the link (4 + 2 + 1024 bytes) out and a status back, as a
        // download does; then minimal frames both ways.
        blockSized = PingPong(driver, napAddress, 4 + 2 + fdp::kBlockDataLen, options.count);
        small = PingPong(driver, napAddress, fdp::kMinPayload, options.count);
        driver.Uninit();
        StopChild(echo);
    }
    std::printf("(a) raw round trip, %d ping-pongs each, the PC's link (through its broker) to a packet socket across the veth pair\n", options.count);
    PrintRtt("1030-byte block / 46 back", blockSized);
    PrintRtt("46 / 46", small);

    // (b) against the simulator, (c) against the benchmark's own echo target: the same
    // download, so that what the simulator's model costs shows apart from the engine.
    std::vector<std::uint8_t> image(options.imageSize);
    std::mt19937 random(42);
    for (auto& b : image) b = static_cast<std::uint8_t>(random());
    const std::string imagePath = folder + "/program.bin";
    std::ofstream(imagePath, std::ios::binary).write(reinterpret_cast<const char*>(image.data()),
                                                      static_cast<std::streamsize>(image.size()));
    const std::string binDir = SelfPath().substr(0, SelfPath().rfind('/'));
    // No frame log: it would cost the target time on every frame.
    const Target simulator{"(b)", "against kelvane-nap-sim", "simulator",
                           {binDir + "/kelvane-nap-sim", "--interface", kNapInterface, "--state", folder + "/state",
                            "--announce-ms", "100", "--reannounce-ms", "0"},
                           folder + "/state/program.bin"};
    const Target echoTarget{"(c)", "against the benchmark's echo target (every block acknowledged at once, no model)",
                            "echo target", {SelfPath(), "--echo-target", kNapInterface}, ""};
    DownloadContext context{folder, napNs, image, imagePath, blockSized};
    const auto simulated = DownloadThroughEngine(simulator, context, options.idleSeconds);
    const auto echoed = DownloadThroughEngine(echoTarget, context, 0);
    // No target serves any more: every candidate stays silent.
    const bool idle = IdleScouting(folder, options.idleSeconds);
    const int status = simulated && echoed && idle ? 0 : 1;
    if (simulated && echoed) {
        std::printf("ratios per block / median RTT of (a): (b) simulator %.2f, (c) echo target %.2f (engine's goal "
                    "<= %.2f)\n",
                    *simulated / blockSized.Median(), *echoed / blockSized.Median(), kEngineGoal);
    }

    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--echo" && hasValue) return RunEcho(argv[i + 1]);
        if (arg == "--echo-target" && hasValue) return bench::RunEchoTarget(argv[i + 1]);
        if (arg == "--count" && hasValue) options.count = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--size" && hasValue) options.imageSize = static_cast<std::uint32_t>(std::max(1L, std::atol(argv[++i])));
        else if (arg == "--idle-seconds" && hasValue) options.idleSeconds = std::max(1, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr,
                         "usage: kelvane-bench [--count N] [--size BYTES] [--idle-seconds N]\n"
                         "Needs the veth bench (scripts/bench up) and root. Namespaces from KELVANE_PC_NS and\n"
                         "KELVANE_NAP_NS (default kvpc, kvnap).\n");
            return 2;
        }
    }
    const std::string pcNs = EnvOr("KELVANE_PC_NS", "kvpc");
    if (!InNamespace(pcNs)) {
        if (!std::filesystem::exists("/run/netns/" + pcNs)) {
            std::fprintf(stderr, "kelvane-bench: namespace %s is missing: run scripts/bench up\n", pcNs.c_str());
            return 1;
        }
        std::vector<std::string> args = {"ip", "netns", "exec", pcNs, SelfPath()};
        args.insert(args.end(), argv + 1, argv + argc);
        std::vector<char*> execArgs;
        for (auto& a : args) execArgs.push_back(a.data());
        execArgs.push_back(nullptr);
        ::execvp("ip", execArgs.data());
        std::fprintf(stderr, "kelvane-bench: cannot run ip netns exec: %s\n", std::strerror(errno));
        return 1;
    }
    return Run(options);
}
