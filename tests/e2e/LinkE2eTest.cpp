// The device link for real: the engine and the packet socket driver on the PC side of the
// veth bench, kelvane-nap-sim as the target on the other side.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "fdp/LinkSession.h"
#include "fdp/PacketSocketDriver.h"
#include "fdp/Sha256.h"
#include "fdp/param/StandardBlock.h"
#include "tests/e2e/Bench.h"
#include "tests/e2e/LinkFixture.h"
#include "tests/support/RecordingFrontEnd.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
using fdp::Sha256File;
using fdp::Sha256Hex;

constexpr fdp::MacAddress kNapAddress = {0x02, 0x4b, 0x56, 0x00, 0x00, 0x02};

class LinkE2eTest : public LinkFixture {};

TEST_F(LinkE2eTest, LogsInAndLearnsTheTargetAddress) {
    StartAndConnect();
    EXPECT_EQ(front.TargetAddress(), kNapAddress);
    EXPECT_EQ(engine.State(), fdp::StateConnected);
    EXPECT_EQ(sim.LogLines({"\"dir\":\"in\",\"type\":2,", "\"note\":\"login\""}).size(), 1u);
}

TEST_F(LinkE2eTest, WrongPasswordIsRefused) {
    StartSim();
    StartEngine();
    EXPECT_EQ(Connect("kiwI"), fdp::ConnectBadPassword);
    EXPECT_EQ(sim.LogLines({"login: wrong answer"}).size(), 1u);
    EXPECT_EQ(sim.LogLines({"\"dir\":\"out\",\"type\":3,\"status\":1,"}).size(), 1u);
}

struct AreaCase {
    const char* name;
    std::uint8_t kind;
    std::size_t size;
    const char* stateFile;
};

class LinkDownloadTest : public LinkE2eTest, public ::testing::WithParamInterface<AreaCase> {};

TEST_P(LinkDownloadTest, StoresTheImageByteExact) {
    StartAndConnect();
    auto image = RandomBytes(GetParam().size, GetParam().kind);
    if (GetParam().kind == fdp::KindParam) {
        const auto standard = param::MakeStandardBlock();
        image.assign(standard.bytes.begin(), standard.bytes.end());
        image[2048 + 33] = 'Q';   // friendly name "Qox NAP"
    }
    DownloadAndCheck(GetParam().kind, image, GetParam().stateFile);
    // Every block went once, numbered 1, 2, ... and wrapping after 1000.
    const std::size_t blocks = (image.size() + 1023) / 1024;
    EXPECT_EQ(sim.LogLines({"\"dir\":\"in\",\"type\":5,\"code\":" + std::to_string(GetParam().kind) + ",\"block\""}).size(),
              blocks);
}

INSTANTIATE_TEST_SUITE_P(Areas, LinkDownloadTest,
                         ::testing::Values(AreaCase{"boot", fdp::KindBoot, 65536 + 300, "boot.bin"},
                                           AreaCase{"program", fdp::KindProgram, 1024 * 1100 + 77, "program.bin"},
                                           AreaCase{"param", fdp::KindParam, 8192, "param.bin"}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(LinkE2eTest, ABlockWhoseFirstSendIsLostIsSentAgain) {
    fdp::LinkTimeouts timeouts;
    timeouts.status = 400;
    StartAndConnect({"--drop-first-send", "2,5", "--status-code", "4"}, timeouts);
    DownloadAndCheck(fdp::KindBoot, RandomBytes(8000, 7), "boot.bin");
    EXPECT_EQ(sim.LogLines({"\"code\":1,\"block\":2,"}).size(), 2u);
    EXPECT_EQ(sim.LogLines({"\"code\":1,\"block\":5,"}).size(), 2u);
    EXPECT_EQ(sim.LogLines({"\"code\":1,\"block\":3,"}).size(), 1u);
    EXPECT_EQ(sim.LogLines({"ignored: first send of block"}).size(), 2u);
}

TEST_F(LinkE2eTest, SilenceInTheMiddleEndsInTimeOutWithoutBurn) {
    fdp::LinkTimeouts timeouts;
    timeouts.status = 300;
    StartAndConnect({"--silence-after-block", "3"}, timeouts);
    const std::string path = folder / "image.bin";
    ASSERT_TRUE(WriteBytes(path, RandomBytes(10000, 3)));
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(front.StartDownload(fdp::KindProgram, path), 0);
    const auto [stage, result] = WaitDownloadEnd(fdp::KindProgram);
    EXPECT_EQ(stage, kTransferEnd);
    EXPECT_EQ(result, fdp::FdpTimeout);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_EQ(sim.LogLines({"\"code\":3,\"block\":4,"}).size(), 3u);   // three sends, then time-out
    EXPECT_TRUE(sim.LogLines({"\"dir\":\"in\",\"type\":5,\"code\":7,"}).empty()) << "burn was sent";
    EXPECT_TRUE(sim.LogLines({"\"dir\":\"in\",\"type\":5,\"code\":19,"}).empty()) << "erase was sent";
    EXPECT_FALSE(std::filesystem::exists(sim.StatePath("program.bin")));
}

TEST_F(LinkE2eTest, AnEraseFailureIsReportedAsSuch) {
    StartAndConnect({"--erase-status", "1"});
    const std::string path = folder / "image.bin";
    ASSERT_TRUE(WriteBytes(path, RandomBytes(3000, 5)));
    ASSERT_EQ(front.StartDownload(fdp::KindBoot, path), 0);
    const auto [stage, result] = WaitDownloadEnd(fdp::KindBoot);
    EXPECT_EQ(stage, EraseEnd(fdp::KindBoot));
    EXPECT_EQ(result, fdp::FdpFailed);
    // The transfer itself went through; the erase stage carries the failure and the
    // burn stage never began.
    bool transferOk = false;
    for (const auto& r : front.Reports()) {
        transferOk = transferOk || (r.stage == kTransferEnd && r.result == fdp::FdpOk);
        EXPECT_FALSE(r.stage >= BurnEnd(fdp::KindBoot) - 2 && r.stage <= BurnEnd(fdp::KindBoot)) << "burn stage reported";
    }
    EXPECT_TRUE(transferOk);
    EXPECT_TRUE(sim.LogLines({"\"dir\":\"in\",\"type\":5,\"code\":7,"}).empty()) << "burn after a failed erase";
    EXPECT_FALSE(std::filesystem::exists(sim.StatePath("boot.bin")));
}

struct FlashDelayCase {
    const char* name;
    const char* option;        // the simulator's delay knob
    std::uint32_t flashWaitMs; // the PC's erase and burn wait
    unsigned endStage;
    unsigned result;
};

class LinkFlashDelayTest : public LinkE2eTest, public ::testing::WithParamInterface<FlashDelayCase> {};

// Replies that the target delays: one within the PC's wait, one beyond it.
TEST_P(LinkFlashDelayTest, SlowFlashOperations) {
    fdp::LinkTimeouts timeouts;
    timeouts.flashShort = GetParam().flashWaitMs;
    StartAndConnect({GetParam().option, "600"}, timeouts);
    const std::string path = folder / "image.bin";
    ASSERT_TRUE(WriteBytes(path, RandomBytes(5000, 9)));
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(front.StartDownload(fdp::KindBoot, path), 0);
    const auto [stage, result] = WaitDownloadEnd(fdp::KindBoot);
    EXPECT_EQ(stage, GetParam().endStage);
    EXPECT_EQ(result, GetParam().result);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(std::min(600u, GetParam().flashWaitMs)));
}

INSTANTIATE_TEST_SUITE_P(
    Delays, LinkFlashDelayTest,
    ::testing::Values(FlashDelayCase{"eraseWithinWait", "--erase-delay-ms", 2000, BurnEnd(fdp::KindBoot), fdp::FdpOk},
                      FlashDelayCase{"burnBeyondWait", "--burn-delay-ms", 300, BurnEnd(fdp::KindBoot), fdp::FdpTimeout}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(LinkE2eTest, TheTargetAnnouncesAgainOnceThePcFallsQuiet) {
    StartAndConnect({"--reannounce-ms", "300"});
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(Connect("kiwi"), fdp::ConnectOk);
    EXPECT_EQ(sim.LogLines({"\"note\":\"login\""}).size(), 2u);
}

TEST_F(LinkE2eTest, ParametersRoundTrip) {
    StartAndConnect();
    auto readParams = [this] {
        auto buffer = fdp::MakeBuffer(fdp::kParamImageLen);
        EXPECT_EQ(front.GetParams(buffer), 0);
        const auto result = front.WaitResult(fdp::WM_FDP_PARAMS, 10s);
        EXPECT_TRUE(result && result->wParam == fdp::NotifySuccess);
        return *buffer;
    };
    const auto standard = param::MakeStandardBlock();
    const auto before = readParams();
    EXPECT_EQ(before, std::vector<std::uint8_t>(standard.bytes.begin(), standard.bytes.end()));
    EXPECT_EQ(before[fdp::kParamFormatOffset], fdp::kParamFormat);

    auto changed = before;
    std::copy_n("Kiwi NAP", 8, changed.begin() + 2048 + 33);
    DownloadAndCheck(fdp::KindParam, changed, "param.bin");
    EXPECT_EQ(readParams(), changed);
}

TEST_F(LinkE2eTest, TraceTextArrivesWhole) {
    std::string text;
    for (int i = 0; text.size() < 3000; ++i) text += "line " + std::to_string(i) + " of the target's trace\r\n";
    const std::string traceFile = folder / "trace-in.txt";
    std::ofstream(traceFile, std::ios::binary) << text;
    StartAndConnect({"--trace-file", traceFile});
    auto buffer = fdp::MakeBuffer(fdp::kParamImageLen);
    ASSERT_EQ(front.GetTrace(buffer), 0);
    const auto result = front.WaitResult(fdp::WM_FDP_TRACE, 10s);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->wParam, fdp::NotifySuccess);
    EXPECT_EQ(std::string(buffer->begin(), buffer->begin() + static_cast<std::ptrdiff_t>(text.size())), text);
}

TEST_F(LinkE2eTest, VersionsDiagnoseAndTestModeRoundTrip) {
    StartAndConnect({"--program-version", "1.2.3.4", "--boot-version", "255.255.255.255", "--diagnose", "0x2d",
                     "--test-mode-status", "4"});
    struct Case {
        std::uint8_t which;
        std::vector<std::uint8_t> expected;
    } versions[] = {{0x0E, {4, 3, 2, 1}}, {0x0D, {0xFF, 0xFF, 0xFF, 0xFF}}};
    for (const auto& v : versions) {
        auto block = fdp::MakeBuffer(fdp::kVersionBlockLen);
        (*block)[0] = v.which;
        EXPECT_EQ(Transfer(front.GetTargetVersion(block)), fdp::NotifySuccess);
        EXPECT_EQ(std::vector<std::uint8_t>(block->begin(), block->begin() + 4), v.expected);
    }
    auto diagnose = fdp::MakeBuffer(fdp::kTestBlockLen);
    (*diagnose)[0] = 0xFF;
    EXPECT_EQ(Transfer(front.DiagnoseTarget(diagnose)), fdp::NotifySuccess);
    EXPECT_EQ((*diagnose)[0], 0x2d);

    auto testMode = fdp::MakeBuffer(fdp::kTestBlockLen);
    (*testMode)[0] = 0x01;
    (*testMode)[1] = 0x03;
    (*testMode)[2] = 0x18;
    EXPECT_EQ(Transfer(front.EnableTargetTestMode(testMode)), fdp::NotifySuccess);
    EXPECT_EQ((*testMode)[0], 4);
    // The HCI command reached the target unchanged, after the sub-operation byte.
    EXPECT_EQ(sim.LogLines({"\"dir\":\"in\",\"type\":5,\"code\":49,", "\"head\":\"0531140003010318"}).size(), 1u);
}

TEST_F(LinkE2eTest, ProgramVersionFollowsTheBurntImage) {
    StartAndConnect();
    auto image = RandomBytes(4096, 11);
    const std::uint8_t version[4] = {0x07, 0x06, 0x05, 0x04};
    std::copy_n(version, 4, image.begin() + 64);
    DownloadAndCheck(fdp::KindProgram, image, "program.bin");
    auto block = fdp::MakeBuffer(fdp::kVersionBlockLen);
    (*block)[0] = 0x0E;
    EXPECT_EQ(Transfer(front.GetTargetVersion(block)), fdp::NotifySuccess);
    EXPECT_EQ(std::vector<std::uint8_t>(block->begin(), block->begin() + 4),
              std::vector<std::uint8_t>(version, version + 4));
}

}  // namespace
}  // namespace e2e
