// One process, one packet driver, two link sessions: on the two-target bench (scripts/bench
// two) each session logs in to its own simulator and both update their program area at
// the same time; each simulator keeps exactly the image its session sent.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "fdp/LinkSession.h"
#include "fdp/FirmwareFile.h"
#include "fdp/LinkChannel.h"
#include "fdp/LinkDispatcher.h"
#include "fdp/PacketSocketDriver.h"
#include "tests/e2e/Bench.h"
#include "tests/support/RecordingFrontEnd.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct Session {
    TempDir folder;
    fdp::test::RecordingFrontEnd front;
    fdp::CLinkSession engine;
};

class SeveralSessionsE2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        KELVANE_NEED_BENCH();
        ASSERT_TRUE(Bench("two up"));
        for (TempDir* dir : {&simFolderA, &simFolderB}) std::filesystem::create_directories(dir->Path() + "/sim");
        const std::vector<std::string> options = {"--password", "kiwi"};
        ASSERT_TRUE(simA.Start(simFolderA.Path() + "/sim", options, "kvt1")) << simA.Error();
        ASSERT_TRUE(simB.Start(simFolderB.Path() + "/sim", options, "kvt2")) << simB.Error();
        driver.SetInterfaceFilter(kPcInterface);
        dispatcher.Start();
        started = true;
    }
    void TearDown() override {
        if (IsSkipped()) return;
        for (Session* s : {&a, &b}) {
            s->engine.Stop();
            s->front.ShutdownLink();
        }
        if (started) dispatcher.Stop();
        simA.Stop();
        simB.Stop();
        Bench("two down");
    }

    // Logs the session in to the target with this address, on the adapter the driver has.
    void LogIn(Session& s, const fdp::MacAddress& target, int expectedOpen) {
        s.front.SetProgramFolder(s.folder.Path());
        ASSERT_TRUE(s.front.StartLink());
        ASSERT_EQ(s.engine.Start(dispatcher, &s.front), 1);
        s.front.SetLink(&s.engine, &driver);
        // The driver's adapters are found once; a second session uses the one open.
        if (expectedOpen == fdp::OpenOk) {
            ASSERT_EQ(s.engine.EnumerateAdapters(), 1);
        }
        ASSERT_EQ(s.engine.OpenAdapter(0), expectedOpen) << driver.LastError();
        s.front.SetAdapter(0, 1, true);
        s.engine.Channel()->SetChosenTarget(target);
        s.front.SetPassword("kiwi");
        // Paced, so that the larger image's transfer runs well past the smaller one's.
        s.front.SetPaceMs(2);
        ASSERT_EQ(s.front.Listen(), 0);
    }

    TempDir simFolderA, simFolderB, work;
    SimProcess simA, simB;
    fdp::CPacketSocketDriver driver;
    fdp::CLinkDispatcher dispatcher{driver};
    bool started = false;
    Session a, b;
};

TEST_F(SeveralSessionsE2eTest, BothTargetsAreUpdatedAtOnceEachWithItsOwnImage) {
    ASSERT_NO_FATAL_FAILURE(LogIn(a, {0x02, 0x4b, 0x56, 0x00, 0x00, 0x11}, fdp::OpenOk));
    ASSERT_NO_FATAL_FAILURE(LogIn(b, {0x02, 0x4b, 0x56, 0x00, 0x00, 0x12}, fdp::OpenAlreadyOpen));
    for (Session* s : {&a, &b}) {
        const auto connected = s->front.WaitResult(fdp::WM_FDP_CONNECT, 15s);
        ASSERT_TRUE(connected);
        ASSERT_EQ(connected->wParam, fdp::ConnectOk);
    }

    // Two images of different versions and contents, one for each target.
    const std::string fileA = work / "a.bin", fileB = work / "b.bin";
    const auto imageA = fdp::MakeSampleFirmware(150000, fdp::FirmwareVersion{2, 8, 3, 2});
    const auto imageB = fdp::MakeSampleFirmware(90000, fdp::FirmwareVersion{2, 8, 3, 3});
    for (const auto& [path, bytes] : {std::pair{fileA, imageA}, std::pair{fileB, imageB}}) {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    ASSERT_EQ(a.front.StartDownload(fdp::KindProgram, fileA), 0);
    ASSERT_EQ(b.front.StartDownload(fdp::KindProgram, fileB), 0);
    // The smaller image's transfer ends while the larger one's still runs.
    ASSERT_TRUE(b.front.WaitStage(63, 60s));
    EXPECT_FALSE(a.front.WaitStage(63, 0ms)) << "the downloads ran one after the other";
    for (Session* s : {&a, &b}) {
        ASSERT_TRUE(s->front.WaitBurntVersion(60s));
        EXPECT_EQ(s->front.Reports().back().result, 0u);
    }
    EXPECT_EQ(ReadBytes(simA.StatePath("program.bin")), imageA);
    EXPECT_EQ(ReadBytes(simB.StatePath("program.bin")), imageB);
    EXPECT_EQ(a.front.BurntVersions().at(0).second->Text(), "2.8.3.2");
    EXPECT_EQ(b.front.BurntVersions().at(0).second->Text(), "2.8.3.3");
}

}  // namespace
}  // namespace e2e
