// kelvane-cli as scripts use it, against the simulator: passwords that stay out of the
// process list, the --json report, --repeat over targets one after another, Ctrl-C.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <optional>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "fdp/FirmwareFile.h"
#include "fdp/Sha256.h"
#include "tests/e2e/Bench.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// One JSON object, and nothing but it, as its members' texts: names (nested ones as
// "outer.inner") to strings as they are and to other values as JSON writes them. Nothing
// when the text is anything else.
struct JsonObject {
    static std::optional<std::map<std::string, std::string>> Parse(const std::string& text) {
        const auto object = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
        if (!object.is_object()) return std::nullopt;
        std::map<std::string, std::string> members;
        Gather(object, "", members);
        return members;
    }

private:
    static void Gather(const nlohmann::json& object, const std::string& prefix,
                       std::map<std::string, std::string>& members) {
        for (const auto& [name, member] : object.items()) {
            if (member.is_object()) Gather(member, prefix + name + ".", members);
            else members[prefix + name] = member.is_string() ? member.get<std::string>() : member.dump();
        }
    }
};

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
    // Waits until standard error holds the text; false when the time passed first.
    bool WaitForError(const std::string& text, std::chrono::seconds limit) const {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (Err().find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }
    std::string Out() const { return ReadText(m_folder / "stdout"); }
    std::string Err() const { return ReadText(m_folder / "stderr"); }

private:
    const TempDir& m_folder;
    pid_t m_pid = -1;
};

class CliScriptingTest : public ::testing::Test {
protected:
    void SetUp() override {
        KELVANE_NEED_BENCH();
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
// up in the working param.jdp, which only its owner may read. The report and the
// history name the changed fields and give no hash of the block: the block holds the
// password, and its hash would let anyone try passwords against it offline.
TEST_F(CliScriptingTest, NewPasswordFromStandardInput) {
    const std::string bin = KELVANE_BIN_DIR;
    std::filesystem::copy_file(bin + "/default.jdp", folder / "param.jdp");
    ::chmod((folder / "param.jdp").c_str(), 0644);
    ASSERT_TRUE(sim.Start(folder.Path(), {"--password", "kiwi"})) << sim.Error();
    CliProcess cli(folder);
    ASSERT_TRUE(cli.Start({"--json", "--password", "-", "set-name-password", "Hall-7", "-"}, "kiwi\nplum\n"));
    const std::string commandLine = cli.CommandLine();
    EXPECT_EQ(commandLine.find("plum"), std::string::npos) << commandLine;
    EXPECT_EQ(cli.Wait(60s), 0) << cli.Out() << cli.Err();
    const auto report = JsonObject::Parse(cli.Out());
    ASSERT_TRUE(report) << cli.Out();
    EXPECT_EQ(report->count("sha256"), 0u) << cli.Out();
    EXPECT_EQ(report->count("fields") ? report->at("fields") : "", "name,password") << cli.Out();
    const std::string history = ReadText(folder / "history.jsonl");
    EXPECT_NE(history.find("\"fields\":\"name,password\""), std::string::npos) << history;
    EXPECT_EQ(history.find("sha256"), std::string::npos) << history;
    EXPECT_EQ(history.find("plum"), std::string::npos) << history;
    EXPECT_EQ(history.find("Hall-7"), std::string::npos) << history;
    // The block was sent from a draft beside param.jdp; the line names the file it became.
    EXPECT_NE(history.find("\"file\":\"" + (folder / "param.jdp") + "\""), std::string::npos) << history;
    EXPECT_NE(ReadText(folder / "param.jdp").find("plum"), std::string::npos);
    struct stat info{};
    ASSERT_EQ(::stat((folder / "param.jdp").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

struct JsonCase {
    const char* name;
    std::vector<std::string> arguments;   // IMAGE names a boot image of the test
    int exitCode;
    std::map<std::string, std::string> expected;
};

class CliJsonTest : public CliScriptingTest, public ::testing::WithParamInterface<JsonCase> {};

// Standard output holds the one object and nothing else; the human texts went to
// standard error.
TEST_P(CliJsonTest, OneObjectOnStandardOutput) {
    const JsonCase& c = GetParam();
    const auto image = fdp::MakeSampleFirmware(3000, fdp::FirmwareVersion{9, 0, 0, 1});
    ASSERT_TRUE(WriteBytes(folder / "image.bin", image));
    std::vector<std::string> arguments = c.arguments;
    for (auto& arg : arguments)
        if (arg == "IMAGE") arg = folder / "image.bin";
    ASSERT_TRUE(sim.Start(folder.Path(), {"--password", "kiwi", "--boot-version", "1.2.3.4"})) << sim.Error();
    CliProcess cli(folder);
    ASSERT_TRUE(cli.Start(arguments, ""));
    ASSERT_EQ(cli.Wait(30s), c.exitCode) << cli.Out() << cli.Err();
    const std::string out = cli.Out();
    ASSERT_TRUE(!out.empty() && out.back() == '\n' && out.find('\n') == out.size() - 1) << out;
    const auto members = JsonObject::Parse(out);
    ASSERT_TRUE(members) << out;
    for (const auto& [name, value] : c.expected) {
        const auto found = members->find(name);
        ASSERT_NE(found, members->end()) << name << " missing in " << out;
        const std::string expected = value == "SHA"     ? *fdp::Sha256File(folder / "image.bin")
                                     : value == "IMAGE" ? folder / "image.bin"
                                                        : value;
        EXPECT_EQ(found->second, expected) << name;
    }
    EXPECT_TRUE(members->count("durationMs")) << out;
    if (c.exitCode != 1) {
        EXPECT_NE(cli.Err().find("System is listening"), std::string::npos) << cli.Err();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, CliJsonTest,
    ::testing::Values(
        JsonCase{"Download", {"--json", "--password", "kiwi", "download", "boot", "IMAGE"}, 0,
                 {{"operation", "download boot"}, {"adapter", "kv0: Ethernet adapter (virtual)"},
                  {"target", "02:4b:56:00:00:02"}, {"file", "IMAGE"}, {"sha256", "SHA"}, {"stage", "burn"},
                  {"result", "Burn boot area successfully!"}, {"code", "0"}, {"exitCode", "0"}, {"ok", "true"}}},
        JsonCase{"Version", {"--json", "--password", "kiwi", "version", "boot"}, 0,
                 {{"versions.boot", "1.2.3.4"}, {"stage", "transfer"}, {"ok", "true"}}},
        JsonCase{"WrongPassword", {"--json", "--password", "pear", "version", "boot"}, 21,
                 {{"operation", "version boot"}, {"stage", "login"}, {"result", "Connect Failed"}, {"code", "1"},
                  {"exitCode", "21"}, {"ok", "false"}}},
        JsonCase{"Usage", {"--json", "erase", "flash"}, 1,
                 {{"operation", "erase flash"}, {"stage", "usage"}, {"exitCode", "1"}, {"ok", "false"}}},
        JsonCase{"OptionWithoutValue", {"--json", "--password-file"}, 1, {{"stage", "usage"}, {"ok", "false"}}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// --quiet: nothing on standard output for a run that went well.
TEST_F(CliScriptingTest, QuietSaysNothing) {
    ASSERT_TRUE(sim.Start(folder.Path(), {})) << sim.Error();
    CliProcess cli(folder);
    ASSERT_TRUE(cli.Start({"--quiet", "--password", "kiwi", "version", "boot"}, ""));
    EXPECT_EQ(cli.Wait(30s), 0) << cli.Err();
    EXPECT_EQ(cli.Out(), "");
    EXPECT_EQ(cli.Err(), "");
}

// The target side's interface answers from another address while it lives: a second
// simulated target is a new target.
class TargetAddress {
public:
    explicit TargetAddress(const char* address) { Set(address); }
    ~TargetAddress() { Set("02:4b:56:00:00:02"); }

private:
    static void Set(const char* address) {
        const std::string command = "ip -n " + NapNamespace() + " link set " + kNapInterface + " address " + address;
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
    }
};

// Two targets, the second started after the first finished: both get the image, one
// summary line and one object each, while the first, announcing again, is let pass.
// Ctrl-C while it waits for a third ends it with the targets' outcome.
TEST_F(CliScriptingTest, RepeatServesEachNewTarget) {
    const auto image = fdp::MakeSampleFirmware(3000, fdp::FirmwareVersion{9, 0, 0, 1});
    ASSERT_TRUE(WriteBytes(folder / "image.bin", image));
    CliProcess cli(folder);
    ASSERT_TRUE(cli.Start({"--password", "kiwi", "--repeat", "--json", "download", "boot", folder / "image.bin"}, ""));
    TempDir firstFolder, secondFolder;
    {
        SimProcess first;
        ASSERT_TRUE(first.Start(firstFolder.Path(), {"--reannounce-ms", "200"})) << first.Error();
        ASSERT_TRUE(cli.WaitForError("02:4b:56:00:00:02  download boot  Burn boot area successfully!  exit 0", 20s))
            << cli.Err();
        std::this_thread::sleep_for(600ms);   // it announces again, and is let pass
        ASSERT_TRUE(first.Stop());
    }
    TargetAddress fresh("02:4b:56:00:00:07");
    SimProcess second;
    ASSERT_TRUE(second.Start(secondFolder.Path(), {})) << second.Error();
    ASSERT_TRUE(cli.WaitForError("02:4b:56:00:00:07  download boot  Burn boot area successfully!  exit 0", 20s))
        << cli.Err();
    EXPECT_EQ(*fdp::Sha256File(firstFolder / "state/boot.bin"), fdp::Sha256Hex(image));
    EXPECT_EQ(*fdp::Sha256File(secondFolder / "state/boot.bin"), fdp::Sha256Hex(image));

    ::kill(cli.Pid(), SIGINT);
    EXPECT_EQ(cli.Wait(5s), 0) << cli.Err();
    EXPECT_NE(cli.Err().find("Interrupted: no target was connected"), std::string::npos) << cli.Err();
    const std::string out = cli.Out();
    std::vector<std::string> targets;
    for (std::size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1) {
        const auto members = JsonObject::Parse(out.substr(at, end - at));
        ASSERT_TRUE(members) << out;
        targets.push_back(members->at("target"));
        EXPECT_EQ(members->at("ok"), "true");
    }
    EXPECT_EQ(targets, (std::vector<std::string>{"02:4b:56:00:00:02", "02:4b:56:00:00:07"}));
}

// Ctrl-C during the burn asks nothing: the tool stops at once, says the target burns
// on by itself with an unknown outcome, and ends with 128 + SIGINT.
TEST_F(CliScriptingTest, CtrlCDuringADownloadSaysWhereTheTargetWasLeft) {
    ASSERT_TRUE(WriteBytes(folder / "image.bin", fdp::MakeSampleFirmware(3000, fdp::FirmwareVersion{9, 0, 0, 1})));
    ASSERT_TRUE(sim.Start(folder.Path(), {"--burn-delay-ms", "10000"})) << sim.Error();
    CliProcess cli(folder);
    ASSERT_TRUE(cli.Start({"--password", "kiwi", "--json", "download", "boot", folder / "image.bin"}, ""));
    ASSERT_TRUE(cli.WaitForError("Start to burn boot area!", 20s)) << cli.Err();
    const auto interrupted = std::chrono::steady_clock::now();
    ::kill(cli.Pid(), SIGINT);
    EXPECT_EQ(cli.Wait(5s), 128 + SIGINT) << cli.Err();
    EXPECT_LT(std::chrono::steady_clock::now() - interrupted, 2s);
    EXPECT_NE(cli.Err().find("Interrupted: stopped while the target burns its boot area"), std::string::npos)
        << cli.Err();
    const auto members = JsonObject::Parse(cli.Out());
    ASSERT_TRUE(members) << cli.Out();
    EXPECT_EQ(members->at("stage"), "burn");
    EXPECT_EQ(members->at("ok"), "false");
}

// kelvane-cli on a terminal, played by the test on a pseudo-terminal: each password is
// asked without echo; Ctrl-C at a prompt ends the tool at once with 130 and leaves the
// terminal echoing; a new password typed twice differently is refused with the name
// and password page's words. Nothing here reaches the link, so no bench is needed.
struct TerminalCase {
    const char* name;
    std::vector<std::string> arguments;
    std::vector<std::string> typed;   // one answer per prompt
    int exitCode;
    const char* shown;                // a text the screen must hold, or ""
};

class CliTerminalTest : public ::testing::TestWithParam<TerminalCase> {};

TEST_P(CliTerminalTest, AsksWithoutEchoAndPutsTheTerminalBack) {
    const TerminalCase& c = GetParam();
    TempDir folder;
    std::vector<std::string> command{std::string(KELVANE_BIN_DIR) + "/kelvane-cli", "--no-progress", "--interface",
                                     "kvnone", "--folder", folder.Path()};
    command.insert(command.end(), c.arguments.begin(), c.arguments.end());
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::vector<char*> argv;
        for (const auto& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::setenv("LC_ALL", "C", 1);   // the English words
        ::unsetenv("LANGUAGE");
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    const auto echoing = [master] {
        termios modes{};
        return ::tcgetattr(master, &modes) == 0 && (modes.c_lflag & ECHO) != 0;
    };
    std::string screen;
    const auto drain = [&] {
        pollfd ready{master, POLLIN, 0};
        char buffer[512];
        while (::poll(&ready, 1, 20) > 0) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0) break;
            screen.append(buffer, static_cast<std::size_t>(n));
        }
    };
    for (const std::string& answer : c.typed) {
        // Typed once the prompt has turned the echo off, as a person would.
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (echoing() && std::chrono::steady_clock::now() < deadline) drain();
        ASSERT_FALSE(echoing()) << "no prompt without echo: " << screen;
        ASSERT_EQ(::write(master, answer.data(), answer.size()), static_cast<ssize_t>(answer.size()));
        const auto next = std::chrono::steady_clock::now() + 10s;
        while (!echoing() && std::chrono::steady_clock::now() < next) drain();
    }
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        drain();
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            FAIL() << "kelvane-cli did not end: " << screen;
        }
    }
    drain();
    EXPECT_TRUE(echoing()) << "the terminal was left without echo";
    ::close(master);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal: " << screen;
    EXPECT_EQ(WEXITSTATUS(status), c.exitCode) << screen;
    EXPECT_NE(screen.find("assword: "), std::string::npos) << screen;
    if (*c.shown) {
        EXPECT_NE(screen.find(c.shown), std::string::npos) << screen;
    }
    for (const char* secret : {"kiw", "plum", "pear"}) EXPECT_EQ(screen.find(secret), std::string::npos) << screen;
}

INSTANTIATE_TEST_SUITE_P(
    Prompts, CliTerminalTest,
    ::testing::Values(
        TerminalCase{"CtrlCAtTheLoginPassword", {"--password", "-", "version", "boot"}, {"kiw\x03"}, 130, ""},
        TerminalCase{"CtrlCAtTheSecondNewPassword", {"--password", "kiwi", "set-name-password", "NAP", "-"},
                     {"plum\r", "\x03"}, 130, ""},
        TerminalCase{"NewPasswordsDiffer", {"--password", "kiwi", "set-name-password", "NAP", "-"}, {"plum\r", "pear\r"},
                     1, "Sorry, passwords do not match. Please input them again."},
        TerminalCase{"NewPasswordFileDashDiffers",
                     {"--password", "kiwi", "--new-password-file", "-", "set-name-password", "NAP"},
                     {"plum\r", "pear\r"}, 1, "Sorry, passwords do not match. Please input them again."}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
}  // namespace e2e
