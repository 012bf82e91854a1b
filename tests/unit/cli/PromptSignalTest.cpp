// kelvane-cli ended by a signal from outside (kill, a closed terminal window, a service
// stop) while it reads a password from the terminal without echo: the terminal must get
// its echo back before the process goes, or the technician's shell stays blind. The
// built program runs on a pseudo-terminal; the loop test is in the table because it has
// no signal watcher of its own.
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "tests/unit/param/ScratchDir.h"

#ifndef KELVANE_BIN_DIR
#error "KELVANE_BIN_DIR names the folder of the built programs"
#endif

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct PromptSignalCase {
    const char* name;
    std::vector<std::string> args;
    int signal;
};

void PrintTo(const PromptSignalCase& c, std::ostream* out) { *out << c.name; }

class PromptSignalTest : public testing::TestWithParam<PromptSignalCase> {
protected:
    void TearDown() override {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_master >= 0) ::close(m_master);
        if (m_slave >= 0) ::close(m_slave);
    }
    bool Echoing() const {
        termios modes{};
        return ::tcgetattr(m_slave, &modes) == 0 && (modes.c_lflag & ECHO) != 0;
    }
    // The exit status, or nothing when it still runs after `within`.
    std::optional<int> WaitEnd(std::chrono::milliseconds within) {
        const auto deadline = std::chrono::steady_clock::now() + within;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return status;
            }
            std::this_thread::sleep_for(5ms);
        }
        return std::nullopt;
    }

    pid_t m_pid = -1;
    int m_master = -1;
    int m_slave = -1;
};

TEST_P(PromptSignalTest, PutsTheEchoBackBeforeItEnds) {
    const PromptSignalCase& c = GetParam();
    const fs::path program = fs::path(KELVANE_BIN_DIR) / "kelvane-cli";
    if (!fs::exists(program)) GTEST_SKIP() << "kelvane-cli is not built here";
    kelvane_test::ScratchDir dir;
    ASSERT_EQ(::openpty(&m_master, &m_slave, nullptr, nullptr, nullptr), 0);
    ASSERT_TRUE(Echoing());

    // Everything the child needs is made before the fork.
    std::vector<std::string> args = {program.string(), "--password", "-"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment = {"HOME=" + (dir / "home").string()};
    for (char** variable = environ; *variable; ++variable)
        if (std::strncmp(*variable, "HOME=", 5) != 0 && std::strncmp(*variable, "KELVANE_", 8) != 0)
            environment.emplace_back(*variable);
    std::vector<char*> envp;
    for (auto& variable : environment) envp.push_back(variable.data());
    envp.push_back(nullptr);

    m_pid = ::fork();
    ASSERT_GE(m_pid, 0);
    if (m_pid == 0) {
        const rlimit noCore{0, 0};   // SIGQUIT's default action dumps core
        ::setrlimit(RLIMIT_CORE, &noCore);
        ::dup2(m_slave, STDIN_FILENO);
        ::dup2(m_slave, STDOUT_FILENO);
        ::dup2(m_slave, STDERR_FILENO);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    for (int i = 0; i < 2500 && Echoing(); ++i) std::this_thread::sleep_for(2ms);
    ASSERT_FALSE(Echoing()) << "kelvane-cli did not turn the echo off for its password prompt";

    ASSERT_EQ(::kill(m_pid, c.signal), 0);
    const auto status = WaitEnd(5s);
    ASSERT_TRUE(status) << "still running 5 s after " << strsignal(c.signal);
    EXPECT_TRUE(Echoing()) << "the terminal was left without echo";
    // Ended as the signal ends a program: by it, or with 128 + its number.
    EXPECT_TRUE((WIFSIGNALED(*status) && WTERMSIG(*status) == c.signal) ||
                (WIFEXITED(*status) && WEXITSTATUS(*status) == 128 + c.signal))
        << "status " << *status;
}

INSTANTIATE_TEST_SUITE_P(
    Signals, PromptSignalTest,
    testing::Values(PromptSignalCase{"TermWhileAskedForARequest", {"version", "boot"}, SIGTERM},
                    PromptSignalCase{"HangUpWhileAskedForARequest", {"version", "boot"}, SIGHUP},
                    PromptSignalCase{"TermWhileAskedForTheLoopTest", {"looptest", "target"}, SIGTERM},
                    PromptSignalCase{"InterruptWhileAskedForTheLoopTest", {"looptest", "target"}, SIGINT},
                    PromptSignalCase{"QuitWhileAskedForADownload", {"download", "boot", "x.bin"}, SIGQUIT}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
