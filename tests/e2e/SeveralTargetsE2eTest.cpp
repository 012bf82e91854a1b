// Two targets behind one switch (scripts/bench two): kelvane-cli lists both, logs in to
// none when both announce in its first second of listening (exit 9, both listed), logs in
// to the one chosen with --target, names another that announces only later, and reads
// the burnt area's version back (--verify).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "fdp/FirmwareFile.h"
#include "tests/e2e/Bench.h"
#include "fdp/Sha256.h"

namespace e2e {
namespace {

constexpr const char* kFirst = "02:4b:56:00:00:11";
constexpr const char* kSecond = "02:4b:56:00:00:12";

struct CliRun {
    int exitCode = -1;
    std::string out;   // standard output
    std::string err;   // standard error
};

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class SeveralTargetsE2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        KELVANE_NEED_BENCH();
        ASSERT_TRUE(Bench("two up"));
        std::filesystem::create_directories(first.Path() + "/sim");
        std::filesystem::create_directories(second.Path() + "/sim");
        // Version 2.8.3.2, above the simulator's built-in 2.0.0.0.
        image = fdp::MakeSampleFirmware(70000, fdp::FirmwareVersion{2, 8, 3, 2});
        ASSERT_TRUE(WriteBytes(work / "program.bin", image));
    }
    void TearDown() override {
        if (IsSkipped()) return;   // no bench was touched; none is made, no sudo is asked
        simFirst.Stop();
        simSecond.Stop();
        Bench("two down");
    }
    void StartTargets(const std::vector<std::string>& secondOptions = {}) {
        std::vector<std::string> options = {"--password", "kiwi"};
        ASSERT_TRUE(simFirst.Start(first.Path() + "/sim", options, "kvt1")) << simFirst.Error();
        options.insert(options.end(), secondOptions.begin(), secondOptions.end());
        ASSERT_TRUE(simSecond.Start(second.Path() + "/sim", options, "kvt2")) << simSecond.Error();
    }
    CliRun Run(const std::vector<std::string>& arguments) {
        std::vector<std::string> command = {"--no-progress", "--interface", kPcInterface, "--folder", work.Path(),
                                            "--password", "kiwi"};
        command.insert(command.end(), arguments.begin(), arguments.end());
        const std::string out = work / "cli.out", err = work / "cli.err";
        CliRun run;
        CliProcess cli;
        if (cli.Start(command, out, err)) run.exitCode = cli.Wait(std::chrono::minutes(5));
        run.out = ReadText(out);
        run.err = ReadText(err);
        return run;
    }
    std::string Program(const SimProcess& sim) const { return sim.StatePath("program.bin"); }

    TempDir work, first, second;
    SimProcess simFirst, simSecond;
    std::vector<std::uint8_t> image;
};

TEST_F(SeveralTargetsE2eTest, TargetsListsBothWithoutLoggingIn) {
    StartTargets();
    const CliRun run = Run({"targets", "--seconds", "2"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    for (const char* address : {kFirst, kSecond})
        EXPECT_NE(run.out.find(std::string(address) + "  on kv0  announces "), std::string::npos) << run.out;
    EXPECT_TRUE(simFirst.LogLines({"\"dir\":\"in\""}).empty()) << "nothing was sent to a target";
    EXPECT_TRUE(simSecond.LogLines({"\"dir\":\"in\""}).empty());

    const CliRun json = Run({"--json", "targets", "--seconds", "1"});
    EXPECT_EQ(json.exitCode, 0) << json.err;
    EXPECT_EQ(std::count(json.out.begin(), json.out.end(), '\n'), 2) << "one object per target:\n" << json.out;
    for (const char* address : {kFirst, kSecond})
        EXPECT_NE(json.out.find(std::string("{\"target\":\"") + address + "\",\"adapter\":\"kv0\",\"announces\":"),
                  std::string::npos)
            << json.out;
}

TEST_F(SeveralTargetsE2eTest, TargetsHearingNoneExitsEight) {
    const CliRun run = Run({"targets", "--seconds", "1"});
    EXPECT_EQ(run.exitCode, 8) << run.out << run.err;
    EXPECT_NE(run.err.find("No target announced itself within 1 s."), std::string::npos) << run.err;
}

TEST_F(SeveralTargetsE2eTest, TheChosenTargetIsUpdatedAndTheOtherUntouched) {
    StartTargets();
    // Dashes and capitals: the address as a label may print it.
    const CliRun run = Run({"--target", "02-4B-56-00-00-12", "--verify", "download", "program", work / "program.bin"});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(run.out.find(std::string("Connected with: ") + kSecond), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("The target now reports version 2.8.3.2\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.err.find("Also heard"), std::string::npos) << "the other was passed over on purpose:\n" << run.err;
    EXPECT_EQ(fdp::Sha256File(Program(simSecond)).value_or(""), fdp::Sha256Hex(image))
        << "the second holds the file";
    EXPECT_FALSE(std::filesystem::exists(Program(simFirst))) << "the first was never written";
    EXPECT_TRUE(simFirst.LogLines({"\"dir\":\"in\"", "\"type\":2"}).empty()) << "no login to the first";
    const std::string history = ReadText(work / "history.jsonl");
    EXPECT_NE(history.find(std::string("\"target\":\"") + kSecond + "\""), std::string::npos) << history;
    EXPECT_NE(history.find("\"versionAfter\":\"2.8.3.2\""), std::string::npos) << history;
}

TEST_F(SeveralTargetsE2eTest, TwoAnnouncingInTheFirstSecondGetNoLoginAndExitNine) {
    StartTargets();
    const CliRun run = Run({"--json", "download", "program", work / "program.bin"});
    EXPECT_EQ(run.exitCode, 9) << run.out << run.err;
    for (const char* address : {kFirst, kSecond}) {
        EXPECT_NE(run.err.find(std::string(address) + "  on kv0  announces "), std::string::npos) << run.err;
        EXPECT_NE(run.out.find(std::string("{\"target\":\"") + address + "\",\"adapter\":\"kv0\",\"announces\":"),
                  std::string::npos)
            << run.out;
    }
    EXPECT_NE(run.err.find("several targets: choose one with --target\n"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("\"targets\":[{"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"exitCode\":9"), std::string::npos) << run.out;
    EXPECT_EQ(run.err.find("Connected with"), std::string::npos) << run.err;
    // Nothing left the PC for either: no login frame, no password.
    EXPECT_TRUE(simFirst.LogLines({"\"dir\":\"in\""}).empty()) << simFirst.LogLines({"\"dir\":\"in\""}).front();
    EXPECT_TRUE(simSecond.LogLines({"\"dir\":\"in\""}).empty()) << simSecond.LogLines({"\"dir\":\"in\""}).front();
    EXPECT_FALSE(std::filesystem::exists(Program(simFirst)));
    EXPECT_FALSE(std::filesystem::exists(Program(simSecond)));

    // The same with --target logs in to the one named, and to it alone.
    const CliRun chosen = Run({"--target", kFirst, "version", "boot"});
    EXPECT_EQ(chosen.exitCode, 0) << chosen.out << chosen.err;
    EXPECT_NE(chosen.out.find(std::string("Connected with: ") + kFirst), std::string::npos) << chosen.out;
    EXPECT_FALSE(simFirst.LogLines({"\"dir\":\"in\"", "\"type\":2"}).empty()) << "the first was logged in to";
    EXPECT_TRUE(simSecond.LogLines({"\"dir\":\"in\""}).empty()) << "nothing went to the second";
}

// A target that starts announcing once the tool has logged in to another is named, as
// before: "Also heard".
TEST_F(SeveralTargetsE2eTest, ATargetHeardAfterTheFirstSecondIsNamed) {
    // The erase takes 3 s: the run is still logged in when the second one comes up.
    ASSERT_TRUE(simFirst.Start(first.Path() + "/sim", {"--password", "kiwi", "--erase-delay-ms", "3000"}, "kvt1"))
        << simFirst.Error();
    bool secondStarted = false;
    std::thread later([&] {
        // Once the login reached the first one: the first second is over.
        for (int i = 0; i < 1000 && simFirst.LogLines({"\"dir\":\"in\"", "\"type\":2"}).empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        secondStarted = simSecond.Start(second.Path() + "/sim", {"--password", "kiwi"}, "kvt2");
    });
    const CliRun run = Run({"--json", "download", "program", work / "program.bin"});
    later.join();
    ASSERT_TRUE(secondStarted) << simSecond.Error();
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(run.err.find(std::string("Connected with: ") + kFirst), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(std::string("Also heard: ") + kSecond + " on kv0 (use --target to choose)\n"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.out.find(std::string("\"otherTargets\":[{\"target\":\"") + kSecond + "\",\"adapter\":\"kv0\"}]"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("\"targets\":"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"versionAfter\":\"2.8.3.2\""), std::string::npos) << run.out;
    EXPECT_TRUE(simSecond.LogLines({"\"dir\":\"in\""}).empty()) << "nothing went to the second";
}

TEST_F(SeveralTargetsE2eTest, VerifyFailsWhenTheTargetKeepsItsOldVersion) {
    StartTargets({"--version-after-burn", "old"});
    const CliRun run = Run({"--target", kSecond, "--verify", "--json", "download", "program", work / "program.bin"});
    EXPECT_EQ(run.exitCode, 7) << run.out << run.err;
    EXPECT_NE(run.err.find("The target now reports version 2.0.0.0\n"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("The target reports version 2.0.0.0 but the file holds 2.8.3.2"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("\"versionAfter\":\"2.0.0.0\""), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"exitCode\":7"), std::string::npos) << run.out;
    EXPECT_NE(ReadText(work / "history.jsonl").find("\"versionAfter\":\"2.0.0.0\""), std::string::npos);

    // Without --verify the same run reports the version and succeeds.
    const CliRun plain = Run({"--target", kSecond, "download", "program", work / "program.bin"});
    EXPECT_EQ(plain.exitCode, 0) << plain.out << plain.err;
    EXPECT_NE(plain.out.find("The target now reports version 2.0.0.0\n"), std::string::npos) << plain.out;
}

TEST_F(SeveralTargetsE2eTest, AMalformedTargetOrOneWithRepeatIsRefused) {
    struct Case {
        std::vector<std::string> arguments;
        const char* words;
    } cases[] = {
        {{"--target", "02:4b:56:00:00", "version", "boot"}, "02:4b:56:00:00 is not a target address"},
        {{"--target", "02:4b:56:00:00:1z", "targets"}, "02:4b:56:00:00:1z is not a target address"},
        {{"--target", "02:4b:56-00:00:12", "version", "boot"}, "is not a target address"},
        {{"--target", kSecond, "--repeat", "version", "boot"}, "cannot be used with --repeat"},
    };
    for (const Case& c : cases) {
        const CliRun run = Run(c.arguments);
        EXPECT_EQ(run.exitCode, 1) << c.words << "\n" << run.out << run.err;
        EXPECT_NE(run.err.find(c.words), std::string::npos) << run.err;
    }
}

}  // namespace
}  // namespace e2e
