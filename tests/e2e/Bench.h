// The veth bench as the end-to-end tests see it. The test program runs on the PC side:
// at start it executes itself again under `ip netns exec <pc namespace>`, so that its
// threads, sockets and /sys/class/net all belong to that namespace. The target is a
// kelvane-nap-sim process per test in the other namespace.
//
// Namespaces: KELVANE_PC_NS / KELVANE_NAP_NS, default kvpc / kvnap (scripts/bench).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdlib>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

inline constexpr const char* kPcInterface = "kv0";
inline constexpr const char* kNapInterface = "kv1";

std::string PcNamespace();
std::string NapNamespace();

// Why the bench cannot be used, or nothing when it can (root, both namespaces, this
// process inside the PC namespace, the simulator built).
std::optional<std::string> BenchProblem();

// First in a test or its SetUp: a bench that cannot be used fails the test under CI
// (CI set), where it must be there, and skips it elsewhere, saying why.
#define KELVANE_NEED_BENCH()                                                          \
    if (const auto benchProblem = ::e2e::BenchProblem()) {                            \
        if (std::getenv("CI")) FAIL() << "bench not usable: " << *benchProblem;       \
        GTEST_SKIP() << *benchProblem;                                                \
    }

// A shell command, its output dropped: true when it exited with 0.
bool Shell(const std::string& command);
// scripts/bench with these arguments ("up", "unplug", "spares up 1", "two down", ...).
bool Bench(const std::string& arguments);

// A fresh folder, removed with its contents at the end.
class TempDir {
public:
    // Under the system's temporary folder, or under base when given.
    explicit TempDir(const std::string& base = {});
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// One kelvane-nap-sim process on the target side, logging to <folder>/sim.log and
// keeping its flash images in <folder>/state.
class SimProcess {
public:
    SimProcess() = default;
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Starts it with these extra options and waits until it serves; false with the
    // reason in Error() when it does not come up.
    bool Start(const std::string& folder, const std::vector<std::string>& options,
               const std::string& interface = kNapInterface);
    // SIGTERM, then waits; true when it ended by itself with status 0 within the time.
    bool Stop(std::chrono::milliseconds within = std::chrono::milliseconds(2000));
    std::chrono::milliseconds StopTime() const { return m_stopTime; }
    const std::string& Error() const { return m_error; }

    std::string StatePath(const std::string& name) const { return m_folder + "/state/" + name; }
    // Every line of the log so far.
    std::vector<std::string> Log() const;
    // Lines holding every one of the given fragments.
    std::vector<std::string> LogLines(const std::vector<std::string>& fragments) const;

private:
    pid_t m_pid = -1;
    std::string m_folder;
    std::string m_error;
    std::chrono::milliseconds m_stopTime{0};
};

// kelvane-cli of the build, run in the background with its output in two files.
class CliProcess {
public:
    CliProcess() = default;
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    // Starts it with these arguments; standard output to out, standard error to err (no
    // err: into out as well).
    bool Start(const std::vector<std::string>& arguments, const std::string& out, const std::string& err = {});
    void Signal(int signal) const;
    // Waits for its end (killing it after the time); its exit code, -1 when killed.
    int Wait(std::chrono::milliseconds within);
    // What it wrote to out so far.
    std::string Output() const;

private:
    pid_t m_pid = -1;
    std::string m_out;
};

std::vector<std::uint8_t> RandomBytes(std::size_t size, std::uint32_t seed);
bool WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace e2e
