// The adapter in use pulled out in the middle of a download, for real: the PC's end of
// the veth pair is deleted (as the kernel does when a USB adapter is unplugged) while the
// target transfers, erases or burns. The run ends at once with the adapter's name and
// what the target was left doing, instead of sitting out the flash wait (80 s for the
// program area); the history line says the same. A link that only goes down and up
// again is no loss: the download goes on.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <ostream>
#include <string>
#include <thread>

#include "fdp/UpdateHistory.h"
#include "tests/e2e/Bench.h"
#include "tests/e2e/LinkFixture.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Well under the flash waits (30 s, 80 s), generous for a loaded machine.
constexpr auto kPromptly = 15s;

// The PC's end of the pair deleted: its peer, the target's end, goes with it.
bool PullOutAdapter() { return Shell(std::string("ip link del ") + kPcInterface); }

std::optional<fdp::HistoryRecord> LastHistoryRecord(const std::string& folder) {
    const auto lines = fdp::CUpdateHistory(folder + "/history.jsonl").Read();
    if (lines.empty()) return std::nullopt;
    return lines.back().record;
}

// The link's fixture; the bench is put back after each test, whose cable was pulled.
class AdapterLostE2eTest : public LinkFixture {
protected:
    void TearDown() override {
        if (IsSkipped()) return;   // no bench was touched; none is made, no sudo is asked
        LinkFixture::TearDown();
        Bench("up");   // the other tests find the bench as they expect it
    }
};

struct LostCase {
    const char* name;
    std::vector<std::string> simOptions;
    std::uint8_t kind;
    std::size_t fileSize;
    unsigned pullAtStage;   // pulled out once this stage was reported
    unsigned endStage;      // the stage that reports the loss
    const char* text;       // what the user is told, from its start
};

void PrintTo(const LostCase& c, std::ostream* out) { *out << c.name; }

class AdapterLostCases : public AdapterLostE2eTest, public ::testing::WithParamInterface<LostCase> {};

TEST_P(AdapterLostCases, EndsAtOnceNamingTheAdapterAndWhatTheTargetWasLeftDoing) {
    const LostCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartAndConnect(c.simOptions));
    const std::string path = folder / "image.bin";
    ASSERT_TRUE(WriteBytes(path, RandomBytes(c.fileSize, 17)));
    ASSERT_EQ(front.StartDownload(c.kind, path), 0);
    ASSERT_TRUE(front.WaitStage(c.pullAtStage, 15s));
    std::this_thread::sleep_for(200ms);   // the target is busy with it
    const auto pulled = Clock::now();
    ASSERT_TRUE(PullOutAdapter());

    const auto [stage, result] = WaitDownloadEnd(c.kind, kPromptly);
    ASSERT_NE(result, 0xFFFFu) << "the download did not end within " << kPromptly.count() << " s of the loss";
    EXPECT_LT(Clock::now() - pulled, kPromptly);
    EXPECT_EQ(stage, c.endStage);
    EXPECT_EQ(result, 8u);
    EXPECT_EQ(front.statusText().rfind(c.text, 0), 0u) << front.statusText();

    // The history line: the step that ended, the loss with the adapter's name.
    const auto record = LastHistoryRecord(folder.Path());
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->adapter, kPcInterface);
    EXPECT_EQ(record->stageCode, c.endStage);
    EXPECT_EQ(record->resultCode, 8u);
    EXPECT_EQ(record->result.rfind(c.text, 0), 0u) << record->result;

    // The login went with the adapter: a request is refused at once, not left to time out.
    EXPECT_EQ(engine.State(), fdp::StateOpened);
    EXPECT_EQ(front.GetTargetVersion(fdp::MakeBuffer(fdp::kVersionBlockLen)), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, AdapterLostCases,
    ::testing::Values(
        // The run: the program area, whose erase wait is 80 s.
        LostCase{"WhileErasingTheProgramArea", {"--erase-delay-ms", "60000"}, fdp::KindProgram, 3000, 21, 23,
                 "The adapter kv0 went away (unplugged or removed): the target was erasing its program area. "
                 "It finishes the erase by itself and the area is then empty"},
        LostCase{"WhileBurningTheBootArea", {"--burn-delay-ms", "60000"}, fdp::KindBoot, 3000, 11, 13,
                 "The adapter kv0 went away (unplugged or removed): the target was burning its boot area. "
                 "It finishes the burn by itself, but whether it succeeded is unknown"},
        // The target still working on a block (silent) when the adapter goes.
        LostCase{"WhileTransferring", {"--silence-after-block", "2"}, fdp::KindBoot, 20 * 1024, 62, 63,
                 "The adapter kv0 went away (unplugged or removed): the transfer stopped before anything was "
                 "burnt, the target's flash is unchanged."}),
    [](const auto& test) { return std::string(test.param.name); });

// A link that goes down and up again under the same interface (a cable moved, a switch
// port renegotiating) is survived as before: the erase's answer comes once it is back.
TEST_F(AdapterLostE2eTest, ALinkThatGoesDownAndUpAgainIsNoLoss) {
    ASSERT_NO_FATAL_FAILURE(StartAndConnect({"--erase-delay-ms", "2500"}));
    const std::string path = folder / "image.bin";
    ASSERT_TRUE(WriteBytes(path, RandomBytes(3000, 18)));
    ASSERT_EQ(front.StartDownload(fdp::KindBoot, path), 0);
    ASSERT_TRUE(front.WaitStage(1, 15s));
    ASSERT_TRUE(Shell(std::string("ip link set ") + kPcInterface + " down"));
    std::this_thread::sleep_for(500ms);
    ASSERT_TRUE(Shell(std::string("ip link set ") + kPcInterface + " up"));
    const auto [stage, result] = WaitDownloadEnd(fdp::KindBoot, 40s);
    EXPECT_EQ(stage, 13u);
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(engine.State(), fdp::StateConnected);
}

// kelvane-cli as the technician runs it: the loss is printed, --json's outcome says the
// same, and the exit code is the one for an adapter that is not open (40 + 8).
TEST_F(AdapterLostE2eTest, KelvaneCliSaysSoAndExitsWith48) {
    ASSERT_NO_FATAL_FAILURE(StartSim({"--erase-delay-ms", "60000"}));
    ASSERT_TRUE(WriteBytes(folder / "image.bin", RandomBytes(3000, 19)));
    // --force: the image is no program firmware, which only the file checks mind.
    const std::string command = std::string(KELVANE_BIN_DIR) + "/kelvane-cli --no-progress --interface " + kPcInterface +
                                " --folder " + folder.Path() + " --json --password kiwi --force download program " +
                                (folder / "image.bin") + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    std::optional<Clock::time_point> pulled;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe)) {
        output += line;
        if (!pulled && std::string(line).starts_with("Start to erase program area!")) {
            std::this_thread::sleep_for(200ms);
            pulled = Clock::now();
            EXPECT_TRUE(PullOutAdapter());
        }
    }
    const int status = ::pclose(pipe);
    ASSERT_TRUE(pulled.has_value()) << output;
    EXPECT_LT(Clock::now() - *pulled, kPromptly) << output;
    ASSERT_TRUE(WIFEXITED(status)) << output;
    EXPECT_EQ(WEXITSTATUS(status), 48) << output;
    EXPECT_NE(output.find("\nThe adapter kv0 went away (unplugged or removed): the target was erasing its program "
                          "area. It finishes the erase by itself and the area is then empty: plug the adapter in "
                          "again, connect and download the program area again before the target restarts.\n"),
              std::string::npos)
        << output;
    EXPECT_EQ(output.find("time out"), std::string::npos) << output;
    // --json's outcome in the same words, with the result code.
    EXPECT_NE(output.find("\"result\":\"The adapter kv0 went away (unplugged or removed): the target was erasing its "
                          "program area."),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("\"code\":8"), std::string::npos) << output;
    const auto record = LastHistoryRecord(folder.Path());
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->adapter, kPcInterface);
    EXPECT_EQ(record->stageCode, 23u);
    EXPECT_EQ(record->resultCode, 8u);
}

}  // namespace
}  // namespace e2e
