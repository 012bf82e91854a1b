// The programs' command lines as a user meets them: which stream each answer goes to,
// the exit code, and that asking for help, the version or the history leaves no trace
// behind. Each row runs a built program; a row whose program this build leaves out (the
// wizard in a build without Qt) is skipped. Add a row for every new option.
#include <fcntl.h>
#include <sys/stat.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <filesystem>
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

enum class Stream { Out, Err };

struct CommandCase {
    const char* name;
    const char* program;             // in the build's bin folder
    std::vector<std::string> args;
    int exitCode;
    Stream answer;                   // where `text` is printed; the other stream stays empty
    const char* text;
    // Run as an installed copy (its parameter files in ../share/kelvane), whose working
    // files would go to $HOME/.config/kelvane: the row must not create that folder.
    bool installed = false;
    std::vector<std::string> environment = {};   // NAME=VALUE to set, NAME= to clear
};

struct Outcome {
    int exitCode = -1;               // -1: ended by a signal or still running after 20 s
    std::string out, err;
};

Outcome RunProgram(const fs::path& program, const std::vector<std::string>& args, const std::vector<std::string>& environment,
            const kelvane_test::ScratchDir& dir) {
    std::vector<std::string> env;
    for (char** at = environ; *at; ++at) {
        const std::string entry = *at;
        const std::string name = entry.substr(0, entry.find('='));
        if (name == "HOME" || name == "XDG_CONFIG_HOME" || name.rfind("KELVANE_", 0) == 0) continue;
        bool replaced = false;
        for (const auto& own : environment) replaced = replaced || own.substr(0, own.find('=')) == name;
        if (!replaced) env.push_back(entry);
    }
    env.push_back("HOME=" + (dir / "home").string());
    for (const auto& own : environment)
        if (own.back() != '=') env.push_back(own);
    std::vector<char*> envp, argv{const_cast<char*>(program.c_str())};
    for (auto& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> argCopies = args;
    for (auto& arg : argCopies) argv.push_back(arg.data());
    argv.push_back(nullptr);

    const fs::path out = dir / "stdout", err = dir / "stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    Outcome outcome;
    if (spawned != 0) return outcome;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
    const auto bytes = [](const fs::path& path) {
        const auto data = kelvane_test::ReadFile(path);
        return std::string(data.begin(), data.end());
    };
    outcome.out = bytes(out);
    outcome.err = bytes(err);
    return outcome;
}

// A copy of the program laid out as the package installs it: bin/PROGRAM beside
// share/kelvane/default.jdp and the translations in share/locale.
fs::path InstalledCopy(const fs::path& built, const kelvane_test::ScratchDir& dir) {
    const fs::path bin = dir / "usr/bin", share = dir / "usr/share/kelvane";
    fs::create_directories(bin);
    fs::create_directories(share);
    fs::copy_file(fs::path(KELVANE_BIN_DIR) / "default.jdp", share / "default.jdp", fs::copy_options::overwrite_existing);
    fs::copy(fs::path(KELVANE_BIN_DIR) / "../share/locale", dir / "usr/share/locale", fs::copy_options::recursive);
    const fs::path copy = bin / built.filename();
    fs::copy_file(built, copy, fs::copy_options::overwrite_existing);
    return copy;
}

// A copy of the program without its translations: a Chinese locale gets the English texts
// and one line naming the file that is missing.
TEST(CommandLine, MissingTranslationIsToldAndEnglishServes) {
    const fs::path built = fs::path(KELVANE_BIN_DIR) / "kelvane-cli";
    if (!fs::exists(built)) GTEST_SKIP() << "kelvane-cli is not built here";
    kelvane_test::ScratchDir dir;
    fs::create_directories(dir / "home");
    fs::create_directories(dir / "opt/bin");
    fs::copy_file(built, dir / "opt/bin/kelvane-cli");
    const Outcome outcome = RunProgram(dir / "opt/bin/kelvane-cli", {"--help"},
                                       {"LANGUAGE=", "LC_ALL=", "LC_MESSAGES=", "LANG=zh_CN.UTF-8"}, dir);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.err, "kelvane-cli: cannot read the translation " +
                               fs::canonical(dir / "opt").string() +
                               "/share/locale/zh_CN/LC_MESSAGES/kelvane.mo; the texts stay English\n");
    EXPECT_EQ(outcome.out.rfind("usage: kelvane-cli [OPTION...]", 0), 0u) << outcome.out;
}

class CommandLineTest : public testing::TestWithParam<CommandCase> {};

TEST_P(CommandLineTest, AnswersOnTheRightStreamWithTheRightCode) {
    const CommandCase& c = GetParam();
    const fs::path built = fs::path(KELVANE_BIN_DIR) / c.program;
    if (!fs::exists(built)) GTEST_SKIP() << c.program << " is not built here";
    kelvane_test::ScratchDir dir;
    fs::create_directories(dir / "home");
    const fs::path program = c.installed ? InstalledCopy(built, dir) : built;

    const Outcome outcome = RunProgram(program, c.args, c.environment, dir);
    EXPECT_EQ(outcome.exitCode, c.exitCode) << "stdout:\n" << outcome.out << "stderr:\n" << outcome.err;
    const std::string& answer = c.answer == Stream::Out ? outcome.out : outcome.err;
    const std::string& other = c.answer == Stream::Out ? outcome.err : outcome.out;
    EXPECT_NE(answer.find(c.text), std::string::npos) << (c.answer == Stream::Out ? "stdout" : "stderr") << ":\n"
                                                      << answer;
    EXPECT_EQ(other, "") << "the other stream";
    if (c.installed) {
        EXPECT_FALSE(fs::exists(dir / "home/.config/kelvane")) << "a folder was created";
    }
}

const CommandCase kCases[] = {
    // Help asked for is an answer, not an error.
    {"CliHelp", "kelvane-cli", {"--help"}, 0, Stream::Out, "operations:\n  download "},
    {"CliShortHelp", "kelvane-cli", {"-h"}, 0, Stream::Out, "options:\n  --interface LIST"},
    {"CliHelpAmongOtherOptions", "kelvane-cli", {"--json", "--quiet", "--help"}, 0, Stream::Out, "exit: 0 ok"},
    // A usage error: the short usage on standard error, exit 1.
    {"CliNoOperation", "kelvane-cli", {}, 1, Stream::Err,
     "usage: kelvane-cli [OPTION...] OPERATION [ARGUMENT...]\nTry 'kelvane-cli --help'"},
    {"CliUnknownOperation", "kelvane-cli", {"flash", "x.bin"}, 1, Stream::Err, "Try 'kelvane-cli --help'"},
    {"CliUnknownOption", "kelvane-cli", {"--bogus", "diagnose"}, 1, Stream::Err, "Try 'kelvane-cli --help'"},
    {"CliOptionWithoutValue", "kelvane-cli", {"diagnose", "--interface"}, 1, Stream::Err, "usage: kelvane-cli"},
    {"CliHistoryLastZero", "kelvane-cli", {"history", "--last", "0"}, 1, Stream::Err, "usage: kelvane-cli"},
    // Every usage error names what was wrong, then the short usage; exit 1.
    {"CliUnknownOperationNamed", "kelvane-cli", {"flash", "x.bin"}, 1, Stream::Err,
     "kelvane-cli: unknown operation flash\nusage: kelvane-cli"},
    // A mistyped option after the operation was once let pass: the burn was not verified.
    {"CliMistypedOptionAfterOperation", "kelvane-cli", {"download", "program", "a.bin", "--verfy"}, 1, Stream::Err,
     "kelvane-cli: unexpected argument --verfy\n"},
    {"CliStrayWord", "kelvane-cli", {"diagnose", "now"}, 1, Stream::Err, "kelvane-cli: unexpected argument now\n"},
    {"CliTwoOperations", "kelvane-cli", {"diagnose", "testmode"}, 1, Stream::Err, "unexpected argument testmode\n"},
    {"CliOperationOptionBeforeOperation", "kelvane-cli", {"--last", "3", "history"}, 1, Stream::Err,
     "unexpected argument --last 3\n"},
    {"CliPaceTooLong", "kelvane-cli", {"--pace-ms", "101", "diagnose"}, 1, Stream::Err,
     "kelvane-cli: --pace-ms: Value 101 not in range 0 to 100\nusage: kelvane-cli"},
    {"CliPaceNegative", "kelvane-cli", {"diagnose", "--pace-ms", "-1"}, 1, Stream::Err,
     "--pace-ms: Value -1 is not a whole number\n"},
    // Decimal only: 0x10 is not sixteen, 1x not one.
    {"CliPaceHex", "kelvane-cli", {"--pace-ms", "0x10", "diagnose"}, 1, Stream::Err,
     "--pace-ms: Value 0x10 is not a whole number\n"},
    {"CliPaceTrailingLetter", "kelvane-cli", {"--pace-ms=1x", "diagnose"}, 1, Stream::Err,
     "--pace-ms: Value 1x is not a whole number\n"},
    {"CliFlashWaitZero", "kelvane-cli", {"--flash-wait-ms", "0", "erase", "boot"}, 1, Stream::Err,
     "--flash-wait-ms: Value 0 not in range 1 to 3600000\n"},
    {"CliLoopSizeTooBig", "kelvane-cli", {"looptest", "target", "--size", "1001"}, 1, Stream::Err,
     "--size: Value 1001 not in range 1 to 1000\n"},
    {"CliLoopSpeedTooSlow", "kelvane-cli", {"looptest", "dongle", "--speed", "9"}, 1, Stream::Err,
     "--speed: Value 9 not in range 10 to 80\n"},
    {"CliLoopUnknownTest", "kelvane-cli", {"looptest", "radio"}, 1, Stream::Err,
     "TEST: radio not in {target,dongle,target-testmode,dongle-testmode}\n"},
    {"CliTargetsSecondsZero", "kelvane-cli", {"targets", "--seconds", "0"}, 1, Stream::Err,
     "--seconds: Value 0 not in range 1 to 3600\n"},
    {"CliHistoryLastNotANumber", "kelvane-cli", {"history", "--last", "3x"}, 1, Stream::Err,
     "--last: Value 3x is not a whole number\n"},
    {"CliLineEraseRefused", "kelvane-cli", {"--all-targets", "erase", "boot"}, 1, Stream::Err,
     "kelvane-cli: --all-targets serves download, set-name-password, set-network, set-register, version, params, "
     "trace and diagnose\n"},
    {"CliLineWithTarget", "kelvane-cli", {"--all-targets", "--target", "02:4b:56:00:00:02", "version", "boot"}, 1,
     Stream::Err, "it cannot be used with --target\n"},
    {"CliLineWithRepeat", "kelvane-cli", {"--all-targets", "--repeat", "diagnose"}, 1, Stream::Err,
     "cannot be used with --repeat"},
    {"CliWatchAlone", "kelvane-cli", {"--watch", "diagnose"}, 1, Stream::Err,
     "kelvane-cli: --watch and --max-parallel go with --all-targets\n"},
    {"CliMaxParallelZero", "kelvane-cli", {"--all-targets", "--max-parallel", "0", "diagnose"}, 1, Stream::Err,
     "usage: kelvane-cli"},
    {"CliEraseUnknownArea", "kelvane-cli", {"erase", "flash"}, 1, Stream::Err, "AREA: flash not in {boot,program,param}\n"},
    {"CliVersionOfParameters", "kelvane-cli", {"version", "param"}, 1, Stream::Err, "AREA: param not in {boot,program}\n"},
    {"CliDownloadWithoutFile", "kelvane-cli", {"download", "boot"}, 1, Stream::Err, "kelvane-cli: FILE is required\n"},
    {"CliRegisterShort", "kelvane-cli", {"set-register", "1", "2"}, 1, Stream::Err, "is required\nusage: kelvane-cli"},
    // Help is the answer wherever it stands, also on a line that is wrong otherwise.
    {"CliHelpAfterUnknownOption", "kelvane-cli", {"--bogus", "--help"}, 0, Stream::Out, "operations:\n  download "},
    {"CliHelpAmongOperationWords", "kelvane-cli", {"set-name-password", "N", "-h"}, 0, Stream::Out, "exit: 0 ok"},
    // Reading only: no folder is made for them.
    {"CliVersion", "kelvane-cli", {"--version"}, 0, Stream::Out, "kelvane-cli 2.8.3\nfiles: ", true},
    {"CliHistory", "kelvane-cli", {"history"}, 0, Stream::Out, "No downloads recorded in ", true},
    {"CliHistoryLast", "kelvane-cli", {"history", "--last", "3"}, 0, Stream::Out, "No downloads recorded in ", true},
    {"CliHelpInstalled", "kelvane-cli", {"--help"}, 0, Stream::Out, "usage: kelvane-cli", true},
    // The wizard reads its options before the toolkit starts: no display is needed to
    // answer them, and none of them is Qt's abort.
    {"WizardHelp", "kelvane", {"--help"}, 0, Stream::Out, "usage: kelvane [--interface LIST] [--dongle DEVICE] [--all-tasks]\n",
     true, {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="}},
    {"WizardShortHelp", "kelvane", {"--all-tasks", "-h"}, 0, Stream::Out, "  --interface LIST  use only these Ethernet"},
    {"WizardHelpAll", "kelvane", {"--help-all"}, 0, Stream::Out, "-platform NAME"},
    {"WizardVersion", "kelvane", {"--version"}, 0, Stream::Out, "kelvane 2.8.3\n", true,
     {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="}},
    {"WizardUnknownOption", "kelvane", {"--bogus"}, 1, Stream::Err, "kelvane: unknown option --bogus\nusage: kelvane ["},
    {"WizardOptionWithoutValue", "kelvane", {"--interface"}, 1, Stream::Err,
     "kelvane: option --interface needs a value\nusage: kelvane ["},
    {"WizardStrayWord", "kelvane", {"kv0"}, 1, Stream::Err, "kelvane: unexpected argument kv0\n"},
    {"WizardHelpNamesTarget", "kelvane", {"--help"}, 0, Stream::Out, "[--target ADDRESS] [--pace-ms N]\n"},
    {"WizardPaceTooLong", "kelvane", {"--pace-ms", "101"}, 1, Stream::Err,
     "kelvane: --pace-ms takes a number from 0 to 100: 101\nusage: kelvane ["},
    {"WizardPaceNotANumber", "kelvane", {"--pace-ms=1x"}, 1, Stream::Err, "kelvane: --pace-ms takes a number from 0 to 100: 1x\n"},
    {"WizardPaceNegative", "kelvane", {"--pace-ms", "-1"}, 1, Stream::Err, "kelvane: --pace-ms takes a number from 0 to 100: -1\n"},
    {"WizardTargetWithoutValue", "kelvane", {"--target"}, 1, Stream::Err, "kelvane: option --target needs a value\n"},
    {"WizardNoDisplay", "kelvane", {}, 1, Stream::Err,
     "kelvane: The wizard needs a graphical session (no display was found); kelvane-cli serves without one.\n", true,
     {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=", "LANGUAGE=", "LC_ALL=", "LC_MESSAGES=", "LANG=en_US.UTF-8"}},
    {"WizardNoDisplayChinese", "kelvane", {"--interface", "kv0"}, 1, Stream::Err,
     "kelvane: 向导需要图形界面（没有找到显示器）；没有图形界面时请使用 kelvane-cli。\n", true,
     {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=", "LANGUAGE=", "LC_ALL=", "LC_MESSAGES=", "LANG=zh_CN.UTF-8"}},
    {"WizardXcbWithoutDisplay", "kelvane", {"-platform", "xcb"}, 1, Stream::Err, "needs a graphical session", false,
     {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=offscreen", "LANG=en_US.UTF-8"}},
};

INSTANTIATE_TEST_SUITE_P(Programs, CommandLineTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<CommandCase>& row) { return std::string(row.param.name); });

// Files kelvane-cli must not use, refused before any link is opened: exit 3 with a
// message naming them, and nothing written.
TEST(FileRefusalTest, AnotherUsersOutIsRefusedWithExit3) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a file to another user";
    kelvane_test::ScratchDir dir;
    fs::create_directories(dir / "home");
    fs::create_directory(dir / "work");
    fs::create_directory(dir / "shared");
    ::chmod((dir / "shared").c_str(), 01777);
    const fs::path out = dir / "shared/params.bin";
    kelvane_test::WriteFile(out, {'t', 'h', 'e', 'i', 'r', 's'});
    ASSERT_EQ(::chown(out.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(out.c_str(), 0666), 0);
    for (const char* operation : {"params", "trace"}) {
        const Outcome outcome = RunProgram(fs::path(KELVANE_BIN_DIR) / "kelvane-cli",
                                           {"--interface", "kvnone", "--folder", (dir / "work").string(), operation,
                                            out.string()},
                                           {}, dir);
        EXPECT_EQ(outcome.exitCode, 3) << outcome.err;
        EXPECT_NE(outcome.err.find(out.string() + " belongs to another user"), std::string::npos) << outcome.err;
        EXPECT_EQ(kelvane_test::ReadFile(out), (std::vector<std::uint8_t>{'t', 'h', 'e', 'i', 'r', 's'}));
        EXPECT_TRUE(fs::is_empty(dir / "work")) << operation;
    }
}

TEST(FileRefusalTest, AFolderOthersMayWriteIsRefusedWithExit3) {
    for (const unsigned mode : {0777u, 0775u}) {
        kelvane_test::ScratchDir dir;
        fs::create_directories(dir / "home");
        const fs::path work = dir / "work";
        fs::create_directory(work);
        ASSERT_EQ(::chmod(work.c_str(), mode), 0);
        const Outcome outcome =
            RunProgram(fs::path(KELVANE_BIN_DIR) / "kelvane-cli",
                       {"--interface", "kvnone", "--folder", work.string(), "--json", "version", "boot"}, {}, dir);
        EXPECT_EQ(outcome.exitCode, 3) << std::oct << mode << ": " << outcome.err;
        EXPECT_NE(outcome.err.find("Other users may write to the folder " + work.string()), std::string::npos)
            << outcome.err;
        EXPECT_TRUE(fs::is_empty(work)) << std::oct << mode;
    }
}

// Every number option of the three programs, given each kind of number none of them
// takes: too large for 64 bits (it once ended kelvane-cli with an uncaught exception,
// exit 134), negative, with an exponent, empty. Each is a usage error: exit 1, a message
// naming the option, the program's usage, nothing on standard output.
struct NumberOption {
    const char* program;
    std::vector<std::string> before;   // the words before the option: an operation it belongs to
    const char* option;
    const char* usage;                 // the start of the program's short usage
};

const NumberOption kNumberOptions[] = {
    {"kelvane-cli", {"diagnose"}, "--pace-ms", "usage: kelvane-cli"},
    {"kelvane-cli", {"erase", "boot"}, "--flash-wait-ms", "usage: kelvane-cli"},
    {"kelvane-cli", {"looptest", "target"}, "--size", "usage: kelvane-cli"},
    {"kelvane-cli", {"looptest", "dongle"}, "--speed", "usage: kelvane-cli"},
    {"kelvane-cli", {"history"}, "--last", "usage: kelvane-cli"},
    {"kelvane-cli", {"targets"}, "--seconds", "usage: kelvane-cli"},
    {"kelvane", {}, "--pace-ms", "usage: kelvane ["},
    // The simulator's other number options are read by the same reader; the unit table
    // of tests/unit/sim runs each of them.
    {"kelvane-nap-sim", {"--interface", "kv9"}, "--announce-ms", "usage: kelvane-nap-sim"},
    {"kelvane-nap-sim", {"--interface", "kv9"}, "--login-status", "usage: kelvane-nap-sim"},
};

const char* const kBadNumbers[] = {"18446744073709551616", "-1", "1e3", ""};

struct NumberCase {
    NumberOption option;
    std::string value;
};

std::vector<NumberCase> NumberCases() {
    std::vector<NumberCase> cases;
    for (const NumberOption& option : kNumberOptions)
        for (const char* value : kBadNumbers) cases.push_back({option, value});
    return cases;
}

class NumberOptionTest : public testing::TestWithParam<NumberCase> {};

TEST_P(NumberOptionTest, IsAUsageError) {
    const NumberCase& c = GetParam();
    const fs::path program = fs::path(KELVANE_BIN_DIR) / c.option.program;
    if (!fs::exists(program)) GTEST_SKIP() << c.option.program << " is not built here";
    kelvane_test::ScratchDir dir;
    fs::create_directories(dir / "home");
    std::vector<std::string> args = c.option.before;
    args.push_back(c.option.option);
    args.push_back(c.value);
    const Outcome outcome = RunProgram(program, args, {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="}, dir);
    EXPECT_EQ(outcome.exitCode, 1) << "stderr:\n" << outcome.err;
    EXPECT_NE(outcome.err.find(c.option.option), std::string::npos) << "stderr:\n" << outcome.err;
    EXPECT_NE(outcome.err.find(c.option.usage), std::string::npos) << "stderr:\n" << outcome.err;
    EXPECT_EQ(outcome.out, "");
}

INSTANTIATE_TEST_SUITE_P(Programs, NumberOptionTest, testing::ValuesIn(NumberCases()),
                         [](const testing::TestParamInfo<NumberCase>& row) {
                             std::string name = std::string(row.param.option.program) + row.param.option.option +
                                                "_" + (row.param.value.empty() ? "empty" : row.param.value);
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

}  // namespace
