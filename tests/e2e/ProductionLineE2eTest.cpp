// The production line on three simulated units behind one switch (scripts/bench many 3):
// kelvane-cli --all-targets updates them at once, each with its own image, history line,
// name and saved block; one unit's failed burn fails only that unit (exit 10, named);
// with --watch a unit plugged in later is served, one back with the file's version is not
// served again, one back with another version is; and Ctrl-C ends it with 130.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fdp/FirmwareFile.h"
#include "fdp/UpdateHistory.h"
#include "tests/e2e/Bench.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

const char* const kUnits[] = {"02:4b:56:00:01:01", "02:4b:56:00:01:02", "02:4b:56:00:01:03"};

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    const std::string text = ReadText(path);
    return {text.begin(), text.end()};
}

class ProductionLineE2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        KELVANE_NEED_BENCH();
        // The units' simulators are this build's; their state folders are this test's.
        ::setenv("BUILD_DIR", std::filesystem::path(KELVANE_BIN_DIR).parent_path().c_str(), 1);
        ::setenv("KELVANE_MANY_DIR", (units / "many").c_str(), 1);
        // Version 2.8.3.2, above the simulator's built-in 2.0.0.0.
        image = fdp::MakeSampleFirmware(70000, fdp::FirmwareVersion{2, 8, 3, 2});
        ASSERT_TRUE(WriteBytes(work / "program.bin", image));
        for (const char* name : {"param.jdp", "default.jdp"})
            std::filesystem::copy_file(std::string(KELVANE_BIN_DIR) + "/" + name, work / name);
    }
    void TearDown() override {
        if (IsSkipped()) return;
        Bench("many down");
        for (const char* name : {"KELVANE_SIM_1", "KELVANE_SIM_2", "KELVANE_SIM_3", "KELVANE_MANY_DIR", "BUILD_DIR"})
            ::unsetenv(name);
    }
    // Three units; options: a unit's faults by its number.
    void UnitsUp(const std::map<int, std::string>& options = {}) {
        for (const auto& [unit, value] : options) ::setenv(("KELVANE_SIM_" + std::to_string(unit)).c_str(), value.c_str(), 1);
        ASSERT_TRUE(Bench("many 3 up"));
        std::this_thread::sleep_for(300ms);   // each simulator serving
    }
    std::string UnitState(int unit, const std::string& name) const {
        return units / ("many/u" + std::to_string(unit) + "/state/" + name);
    }
    pid_t UnitPid(int unit) const { return std::stoi(ReadText(units / ("many/u" + std::to_string(unit) + "/sim.pid"))); }
    std::vector<std::string> Arguments(const std::vector<std::string>& more) const {
        std::vector<std::string> arguments = {"--all-targets", "--interface", kPcInterface, "--folder", work.Path(),
                                              "--password", "kiwi", "--seconds", "2"};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return arguments;
    }
    // Runs to its end; the exit code.
    int Run(const std::vector<std::string>& more) {
        CliProcess cli;
        if (!cli.Start(Arguments(more), work / "out", work / "err")) return -1;
        return cli.Wait(60s);
    }
    // The history's lines for each target address.
    std::map<std::string, int> HistoryLines() const {
        std::map<std::string, int> lines;
        for (const auto& line : fdp::CUpdateHistory(work / "history.jsonl").Read())
            if (line.record) ++lines[line.record->target];
        return lines;
    }
    std::string Out() const { return ReadText(work / "out"); }
    std::string Err() const { return ReadText(work / "err"); }

    TempDir work, units;
    std::vector<std::uint8_t> image;
};

TEST_F(ProductionLineE2eTest, EveryUnitIsUpdatedAtOnceEachWithItsOwnHistoryLine) {
    UnitsUp();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Run({"--json", "--pace-ms", "10", "download", "program", work / "program.bin"}), 0) << Out() << Err();
    const auto span = std::chrono::steady_clock::now() - start - 2s;   // less the listen
    long long sum = 0;
    int objects = 0;
    std::string summary;
    std::istringstream lines(Out());
    for (std::string line; std::getline(lines, line);) {
        if (line.find("\"summary\"") != std::string::npos) {
            summary = line;
            continue;
        }
        ++objects;
        EXPECT_NE(line.find("\"ok\":true"), std::string::npos) << line;
        sum += std::stoll(line.substr(line.find("\"durationMs\":") + 13));
    }
    EXPECT_EQ(objects, 3);
    EXPECT_EQ(summary, R"({"summary":{"done":3,"failed":0,"running":0,"waiting":0},"failedTargets":[],"exitCode":0})");
    // At once: the three runs (at least 69 paced blocks each) overlap.
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(span).count(), sum * 2 / 3);
    for (int unit = 1; unit <= 3; ++unit) EXPECT_EQ(ReadBytes(UnitState(unit, "program.bin")), image) << "unit " << unit;
    EXPECT_EQ(HistoryLines(), (std::map<std::string, int>{{kUnits[0], 1}, {kUnits[1], 1}, {kUnits[2], 1}}));
}

TEST_F(ProductionLineE2eTest, AUnitWhoseBurnFailsFailsAloneAndIsNamed) {
    UnitsUp({{2, "--burn-status 5"}});
    EXPECT_EQ(Run({"download", "program", work / "program.bin"}), 10) << Out() << Err();
    EXPECT_EQ(ReadBytes(UnitState(1, "program.bin")), image);
    EXPECT_NE(ReadBytes(UnitState(2, "program.bin")), image);
    EXPECT_EQ(ReadBytes(UnitState(3, "program.bin")), image);
    // Not on a terminal: a line as each starts and ends, then the summary naming it.
    const std::string out = Out();
    for (const char* unit : kUnits) {
        EXPECT_NE(out.find(std::string(unit) + "  kv0  started download"), std::string::npos) << out;
        EXPECT_NE(out.find(std::string(unit) + "  download program  "), std::string::npos) << out;
    }
    EXPECT_NE(out.find("02:4b:56:00:01:02  download program  Burn program area unkonwn error!  exit 45"), std::string::npos)
        << out;
    EXPECT_NE(out.find("done 2, failed 1 (02:4b:56:00:01:02), running 0, waiting 0"), std::string::npos) << out;
    EXPECT_EQ(out.find("\x1b["), std::string::npos) << "no table drawn into a file";
}

TEST_F(ProductionLineE2eTest, NoUnitHeardIsExit8) {
    UnitsUp();
    for (int unit = 1; unit <= 3; ++unit) ::kill(UnitPid(unit), SIGSTOP);
    EXPECT_EQ(Run({"--seconds", "1", "version", "program"}), 8) << Out() << Err();
    EXPECT_NE(Err().find("No target announced itself within 1 s."), std::string::npos) << Err();
    for (int unit = 1; unit <= 3; ++unit) ::kill(UnitPid(unit), SIGCONT);
}

// A late unit is served; a unit back with the file's version is not served again; one
// back with another (its burn did not take) is, and the line says so.
TEST_F(ProductionLineE2eTest, WatchServesLateUnitsAndOnlyThoseThatNeedIt) {
    UnitsUp({{2, "--version-after-burn old"}});
    ::kill(UnitPid(3), SIGSTOP);   // not plugged in yet
    CliProcess cli;
    ASSERT_TRUE(cli.Start(Arguments({"--watch", "--seconds", "1", "download", "program", work / "program.bin"}),
                          work / "out", work / "err"));
    const auto waitFor = [&](auto done, std::chrono::seconds within) {
        const auto deadline = std::chrono::steady_clock::now() + within;
        while (!done() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(100ms);
        return done();
    };
    ASSERT_TRUE(waitFor([&] { return HistoryLines()[kUnits[0]] == 1 && HistoryLines()[kUnits[1]] >= 1; }, 30s))
        << Out() << Err();
    ::kill(UnitPid(3), SIGCONT);
    ASSERT_TRUE(waitFor([&] { return HistoryLines()[kUnits[2]] == 1; }, 30s)) << Out() << Err();
    // Unit 2 reported its old version after its burn: it is served again when it comes back.
    ASSERT_TRUE(waitFor([&] { return HistoryLines()[kUnits[1]] >= 2; }, 30s)) << Out() << Err();
    // Units 1 and 3 announce again 3 s after the PC falls quiet: time enough to be heard.
    std::this_thread::sleep_for(4s);
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(20s), 130) << Out() << Err();
    const auto lines = HistoryLines();
    EXPECT_EQ(lines.at(kUnits[0]), 1);
    EXPECT_EQ(lines.at(kUnits[2]), 1);
    EXPECT_NE(Out().find("02:4b:56:00:01:02  reported 2.0.0.0 after its burn, not the file's 2.8.3.2: served again"),
              std::string::npos)
        << Out();
    EXPECT_EQ(ReadBytes(UnitState(3, "program.bin")), image);
}

// %s names each unit after itself; %a keeps each unit's saved block apart. The name is
// parameter 8 (64 bytes at block offset 2048 + 33), the password parameter 3 (16 bytes
// at 2048 + 8).
TEST_F(ProductionLineE2eTest, EachUnitGetsItsOwnNameAndItsOwnSavedBlock) {
    UnitsUp();
    ASSERT_EQ(Run({"set-name-password", "NAP-%s", "line-pw"}), 0) << Out() << Err();
    std::filesystem::create_directory(work / "saved");
    // Logged in a moment ago, the units announce again only 3 s after the PC falls quiet.
    ASSERT_EQ(Run({"--password", "line-pw", "--seconds", "5", "params", work / "saved/%a.jdp"}), 0) << Out() << Err();
    const std::map<std::string, std::string> expected = {
        {"024b56000101.jdp", "NAP-000101"}, {"024b56000102.jdp", "NAP-000102"}, {"024b56000103.jdp", "NAP-000103"}};
    for (const auto& [file, name] : expected) {
        const std::vector<std::uint8_t> block = ReadBytes(work / ("saved/" + file));
        ASSERT_EQ(block.size(), 8192u) << file;
        std::string wantedName(64, '\0'), wantedPassword(16, '\0');
        wantedName.replace(0, name.size(), name);
        wantedPassword.replace(0, 7, "line-pw");
        EXPECT_EQ(std::string(block.begin() + 2048 + 33, block.begin() + 2048 + 33 + 64), wantedName) << file;
        EXPECT_EQ(std::string(block.begin() + 2048 + 8, block.begin() + 2048 + 8 + 16), wantedPassword) << file;
    }
}

// Ctrl-C while all three transfer: each says what it was left doing, the exit is 130.
TEST_F(ProductionLineE2eTest, CtrlCSaysWhatEachRunningUnitWasLeftDoing) {
    UnitsUp();
    CliProcess cli;
    ASSERT_TRUE(cli.Start(Arguments({"--pace-ms", "40", "download", "program", work / "program.bin"}), work / "out",
                          work / "err"));
    // The listen (2 s), the logins, then some 40 ms blocks of the 69.
    std::this_thread::sleep_for(3500ms);
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(20s), 130) << Out() << Err();
    const std::string out = Out();
    for (const char* unit : kUnits)
        EXPECT_NE(out.find(std::string(unit) + "  download program  interrupted: "), std::string::npos) << out;
    EXPECT_NE(out.find("running 0, waiting 0"), std::string::npos) << out;
}

// What a terminal shows after the output: the lines as they stand, the cursor moved by
// carriage return, line feed, "ESC [ n A" (up) and "ESC [ 2 K" (clear the line).
std::vector<std::string> Screen(const std::string& output) {
    std::vector<std::string> lines(1);
    std::size_t row = 0, column = 0;
    for (std::size_t i = 0; i < output.size(); ++i) {
        const char c = output[i];
        if (c == '\r') {
            column = 0;
        } else if (c == '\n') {
            if (++row == lines.size()) lines.emplace_back();
            column = 0;
        } else if (c == '\x1b' && i + 1 < output.size() && output[i + 1] == '[') {
            std::size_t end = i + 2;
            while (end < output.size() && std::isdigit(static_cast<unsigned char>(output[end]))) ++end;
            const int n = end > i + 2 ? std::stoi(output.substr(i + 2, end - i - 2)) : 1;
            if (end < output.size() && output[end] == 'A') row -= std::min<std::size_t>(row, static_cast<std::size_t>(n));
            if (end < output.size() && output[end] == 'K') lines[row].clear(), column = 0;
            i = end;
        } else {
            std::string& line = lines[row];
            if (line.size() <= column) line.resize(column + 1, ' ');
            line[column++] = c;
        }
    }
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

// On a terminal the table is redrawn in place: what stays on the screen is one line per
// unit and the summary, however often it was drawn.
TEST_F(ProductionLineE2eTest, OnATerminalTheTableIsRedrawnInPlace) {
    UnitsUp();
    winsize size{};
    size.ws_col = 100;
    size.ws_row = 30;
    int master = -1;
    std::vector<std::string> command = {std::string(KELVANE_BIN_DIR) + "/kelvane-cli"};
    for (const std::string& argument : Arguments({"--pace-ms", "5", "download", "program", work / "program.bin"}))
        command.push_back(argument);
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, &size);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::vector<char*> argv;
        for (auto& argument : command) argv.push_back(argument.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    std::string output;
    char buffer[4096];
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 60000) <= 0) break;
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0) break;   // EIO once the program has ended
        output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(master);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
    // The terminal's own line discipline turns each line feed into CR LF.
    const std::vector<std::string> screen = Screen(output);
    ASSERT_EQ(screen.size(), 4u) << output;
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(std::any_of(std::begin(kUnits), std::end(kUnits),
                                [&](const char* unit) { return screen[i].starts_with(unit); }))
            << screen[i];
        EXPECT_NE(screen[i].find("done"), std::string::npos) << screen[i];
        EXPECT_NE(screen[i].find("100%"), std::string::npos) << screen[i];
        EXPECT_LT(screen[i].size(), 100u);
    }
    EXPECT_EQ(screen[3], "done 3, failed 0, running 0, waiting 0");
    EXPECT_GT(std::count(output.begin(), output.end(), '\x1b'), 8) << "drawn more than once";
}

}  // namespace
}  // namespace e2e
