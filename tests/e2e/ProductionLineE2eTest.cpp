// The production line on three simulated units behind one switch (scripts/bench many 3):
// kelvane-cli --all-targets updates them at once, each with its own image, history line,
// name and saved block; one unit's failed burn fails only that unit (exit 10, named);
// with --watch a unit plugged in later is served, one back with the file's version is not
// served again, one back with another version is; and Ctrl-C ends it with 130.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

#include <algorithm>
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

}  // namespace
}  // namespace e2e
