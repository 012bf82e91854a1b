// kelvane-cli as scripts use it, against the simulator: passwords that stay out of the
// process list.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/e2e/Bench.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// One kelvane-cli process: standard input from a string, standard output and error
// into files of the folder, so that a test can look at it while it runs.
class CliProcess {
public:
    CliProcess(const TempDir& folder) : m_folder(folder) {}
    ~CliProcess() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

    bool Start(const std::vector<std::string>& arguments, const std::string& input,
               const std::vector<std::string>& environment = {}) {
        std::vector<std::string> command{std::string(KELVANE_BIN_DIR) + "/kelvane-cli", "--no-progress", "--interface",
                                         kPcInterface, "--folder", m_folder.Path()};
        command.insert(command.end(), arguments.begin(), arguments.end());
        int pipeFds[2];
        if (::pipe(pipeFds) != 0) return false;
        m_pid = ::fork();
        if (m_pid < 0) return false;
        if (m_pid == 0) {
            ::dup2(pipeFds[0], STDIN_FILENO);
            ::close(pipeFds[0]);
            ::close(pipeFds[1]);
            const int out = ::open((m_folder / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = ::open((m_folder / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(err, STDERR_FILENO);
            ::unsetenv("KELVANE_PASSWORD");
            ::unsetenv("KELVANE_NEW_PASSWORD");
            for (const std::string& assignment : environment) ::putenv(const_cast<char*>(assignment.c_str()));
            std::vector<char*> argv;
            for (const auto& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(pipeFds[0]);
        const bool written = ::write(pipeFds[1], input.data(), input.size()) == static_cast<ssize_t>(input.size());
        ::close(pipeFds[1]);
        return written;
    }

    // The command line as every user sees it in /proc, once the tool runs.
    std::string CommandLine() const {
        const std::string proc = "/proc/" + std::to_string(m_pid);
        for (int i = 0; i < 200; ++i) {
            std::error_code error;
            if (std::filesystem::read_symlink(proc + "/exe", error).filename() == "kelvane-cli") break;
            std::this_thread::sleep_for(5ms);
        }
        return ReadText(proc + "/cmdline");
    }

    // The exit code, or -1 when it did not end within the limit (then it is killed).
    int Wait(std::chrono::seconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (::waitpid(m_pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) return -1;
            std::this_thread::sleep_for(10ms);
        }
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    pid_t Pid() const { return m_pid; }
    std::string Out() const { return ReadText(m_folder / "stdout"); }
    std::string Err() const { return ReadText(m_folder / "stderr"); }

private:
    const TempDir& m_folder;
    pid_t m_pid = -1;
};

class CliScriptingTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const auto problem = BenchProblem()) {
            if (std::getenv("CI")) FAIL() << "bench not usable: " << *problem;
            GTEST_SKIP() << *problem;
        }
    }
    TempDir folder;
    SimProcess sim;
};

struct PasswordCase {
    const char* name;
    std::vector<std::string> arguments;   // PWFILE names a file holding "kiwi\n"
    std::string input;
    std::vector<std::string> environment;
    int exitCode;
};

class CliPasswordTest : public CliScriptingTest, public ::testing::WithParamInterface<PasswordCase> {};

TEST_P(CliPasswordTest, TakesThePasswordWithoutShowingIt) {
    const PasswordCase& c = GetParam();
    {
        std::ofstream(folder / "pw") << "kiwi\n";
        ::chmod((folder / "pw").c_str(), 0600);
    }
    std::vector<std::string> arguments = c.arguments;
    for (auto& arg : arguments)
        if (arg == "PWFILE") arg = folder / "pw";
    ASSERT_TRUE(sim.Start(folder.Path(), {"--password", "kiwi"})) << sim.Error();
    CliProcess cli(folder);
    ASSERT_TRUE(cli.Start(arguments, c.input, c.environment));
    const std::string commandLine = cli.CommandLine();
    EXPECT_EQ(commandLine.find("kiwi"), std::string::npos) << commandLine;
    EXPECT_EQ(cli.Wait(30s), c.exitCode) << cli.Out() << cli.Err();
}

INSTANTIATE_TEST_SUITE_P(
    Sources, CliPasswordTest,
    ::testing::Values(PasswordCase{"File", {"--password-file", "PWFILE", "version", "boot"}, "", {}, 0},
                      PasswordCase{"StandardInput", {"--password", "-", "version", "boot"}, "kiwi\n", {}, 0},
                      PasswordCase{"Environment", {"version", "boot"}, "", {"KELVANE_PASSWORD=kiwi"}, 0},
                      PasswordCase{"WrongOnStandardInput", {"--password", "-", "version", "boot"}, "pear\n", {}, 21},
                      PasswordCase{"FileAndStandardInput", {"--password-file", "PWFILE", "--password", "-", "version", "boot"},
                                   "kiwi\n", {}, 1},
                      PasswordCase{"MissingFile", {"--password-file", "/nonexistent/pw", "version", "boot"}, "", {}, 3}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// Both passwords of a name and password change from standard input; the new one ends
// up in the working param.jdp, which only its owner may read.
TEST_F(CliScriptingTest, NewPasswordFromStandardInput) {
    const std::string bin = KELVANE_BIN_DIR;
    std::filesystem::copy_file(bin + "/default.jdp", folder / "param.jdp");
    ::chmod((folder / "param.jdp").c_str(), 0644);
    ASSERT_TRUE(sim.Start(folder.Path(), {"--password", "kiwi"})) << sim.Error();
    CliProcess cli(folder);
    ASSERT_TRUE(cli.Start({"--password", "-", "set-name-password", "Hall-7", "-"}, "kiwi\nplum\n"));
    const std::string commandLine = cli.CommandLine();
    EXPECT_EQ(commandLine.find("plum"), std::string::npos) << commandLine;
    EXPECT_EQ(cli.Wait(60s), 0) << cli.Out() << cli.Err();
    EXPECT_NE(ReadText(folder / "param.jdp").find("plum"), std::string::npos);
    struct stat info{};
    ASSERT_EQ(::stat((folder / "param.jdp").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace e2e
