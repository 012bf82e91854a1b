#include "tests/e2e/Bench.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

namespace e2e {

namespace {

constexpr const char* kInNamespaceMarker = "KELVANE_E2E_IN_NETNS";

std::string EnvOr(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

std::string SimBinary() { return std::string(KELVANE_BIN_DIR) + "/kelvane-nap-sim"; }

// Runs the program again inside the PC namespace, once, before any test or thread
// starts. When that cannot be done the program goes on, and BenchProblem says why.
struct EnterPcNamespace {
    EnterPcNamespace() {
        if (std::getenv(kInNamespaceMarker) || ::geteuid() != 0) return;
        const std::string ns = PcNamespace();
        if (!std::filesystem::exists("/run/netns/" + ns)) return;
        std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
        std::vector<std::string> args;
        for (std::string arg; std::getline(cmdline, arg, '\0');) args.push_back(arg);
        char self[4096];
        const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
        if (n <= 0 || args.empty()) return;
        self[n] = '\0';
        std::vector<std::string> command = {"ip", "netns", "exec", ns, self};
        command.insert(command.end(), args.begin() + 1, args.end());
        std::vector<char*> argv;
        for (auto& arg : command) argv.push_back(arg.data());
        argv.push_back(nullptr);
        ::setenv(kInNamespaceMarker, ns.c_str(), 1);
        ::execvp("ip", argv.data());
        ::unsetenv(kInNamespaceMarker);   // no ip: carry on where we are
    }
} g_enterPcNamespace;

}  // namespace

std::string PcNamespace() { return EnvOr("KELVANE_PC_NS", "kvpc"); }
std::string NapNamespace() { return EnvOr("KELVANE_NAP_NS", "kvnap"); }

CliProcess::~CliProcess() {
    if (m_pid > 0) Wait(std::chrono::milliseconds(0));
}

bool CliProcess::Start(const std::vector<std::string>& arguments, const std::string& out, const std::string& err) {
    std::vector<std::string> command = {std::string(KELVANE_BIN_DIR) + "/kelvane-cli"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    m_out = out;
    m_pid = ::fork();
    if (m_pid == 0) {
        const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int e = err.empty() ? o : ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (o < 0 || e < 0) ::_exit(126);
        ::dup2(o, STDOUT_FILENO);
        ::dup2(e, STDERR_FILENO);
        std::vector<char*> argv;
        for (auto& arg : command) argv.push_back(arg.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return m_pid > 0;
}

void CliProcess::Signal(int signal) const {
    if (m_pid > 0) ::kill(m_pid, signal);
}

int CliProcess::Wait(std::chrono::milliseconds within) {
    if (m_pid <= 0) return -1;
    const auto deadline = std::chrono::steady_clock::now() + within;
    int status = 0;
    while (::waitpid(m_pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
            m_pid = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string CliProcess::Output() const {
    std::ifstream in(m_out, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }
bool Bench(const std::string& arguments) { return Shell(std::string(KELVANE_SOURCE_DIR) + "/scripts/bench " + arguments); }

std::optional<std::string> BenchProblem() {
    if (::geteuid() != 0) return "the end-to-end tests need root (raw frames, network namespaces)";
    for (const auto& ns : {PcNamespace(), NapNamespace()})
        if (!std::filesystem::exists("/run/netns/" + ns))
            return "namespace " + ns + " is missing: run scripts/bench up";
    if (!SameFile("/proc/self/ns/net", "/run/netns/" + PcNamespace()))
        return "the tests could not enter namespace " + PcNamespace() + " (is `ip` installed?)";
    if (!std::filesystem::exists(std::string("/sys/class/net/") + kPcInterface))
        return std::string("interface ") + kPcInterface + " is missing: run scripts/bench up";
    if (::access(SimBinary().c_str(), X_OK) != 0) return SimBinary() + " is not built";
    return std::nullopt;
}

TempDir::TempDir(const std::string& base) {
    std::string pattern =
        ((base.empty() ? std::filesystem::temp_directory_path() : std::filesystem::path(base)) / "kelvane-e2e-XXXXXX").string();
    if (::mkdtemp(pattern.data())) m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
}

SimProcess::~SimProcess() { Stop(); }

bool SimProcess::Start(const std::string& folder, const std::vector<std::string>& options,
                       const std::string& interface) {
    m_folder = folder;
    const std::string log = folder + "/sim.log";
    // A simulator started again in the same folder must not be taken for ready by the
    // "ready" line of the one before it, which a signal could then end before it blocks
    // its signals.
    std::error_code ignored;
    std::filesystem::remove(log, ignored);
    std::vector<std::string> command = {"ip", "netns", "exec", NapNamespace(), SimBinary(),
                                        "--interface", interface, "--log", log,
                                        "--state", folder + "/state", "--announce-ms", "100"};
    command.insert(command.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (auto& arg : command) argv.push_back(arg.data());
    argv.push_back(nullptr);

    m_pid = ::fork();
    if (m_pid < 0) {
        m_error = "fork failed";
        return false;
    }
    if (m_pid == 0) {
        // Its banner and any complaint go to a file beside the log, not into the test output.
        const int err = ::open((folder + "/sim.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (err >= 0) ::dup2(err, STDERR_FILENO);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    // Serving once the log says so; a simulator that cannot open its interface ends.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!LogLines({"\"event\":\"ready\""}).empty()) return true;
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            std::ifstream err(folder + "/sim.err");
            const std::string why{std::istreambuf_iterator<char>(err), {}};
            m_error = "kelvane-nap-sim ended at start (status " + std::to_string(status) + "): " + why;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_error = "kelvane-nap-sim did not come up within 5 s";
    Stop();
    return false;
}

bool SimProcess::Stop(std::chrono::milliseconds within) {
    if (m_pid <= 0) return true;
    const auto started = std::chrono::steady_clock::now();
    ::kill(m_pid, SIGTERM);
    int status = 0;
    bool ended = false;
    while (std::chrono::steady_clock::now() - started < within) {
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            ended = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    m_stopTime = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    if (!ended) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, &status, 0);
    }
    m_pid = -1;
    return ended && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<std::string> SimProcess::Log() const {
    std::vector<std::string> lines;
    std::ifstream in(m_folder + "/sim.log");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> SimProcess::LogLines(const std::vector<std::string>& fragments) const {
    std::vector<std::string> found;
    for (const auto& line : Log()) {
        bool all = true;
        for (const auto& fragment : fragments) all = all && line.find(fragment) != std::string::npos;
        if (all) found.push_back(line);
    }
    return found;
}

std::vector<std::uint8_t> RandomBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
    return bytes;
}

bool WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace e2e
