// The adapter in use deleted while the link waits on the target: the wait ends at once
// with the adapter's name and what the target was left doing, the login goes with it,
// and the next login works as before. While listening a loss ends nothing.
#include <gtest/gtest.h>

#include <fstream>

#include "fdp/UpdateHistory.h"
#include "tests/unit/fdp/LinkFixture.h"

namespace fdp::test {
namespace {

using namespace std::chrono_literals;

// The stage codes of a staged boot download: erase 1..3, burn 11..13, transfer 62, 63.
// The PC's commands: 0x01 a boot data block, 0x11 erase the boot area, 0x07 burn, 0x31 a
// transfer request; the target answers an erase with 0x12.
struct LostCase {
    const char* name;
    std::uint8_t pullAfterSent;   // pulled out once a frame with this code went out
    unsigned endStage;
    const char* text;
};

class AdapterLostTest : public LinkFixture, public ::testing::WithParamInterface<LostCase> {
protected:
    // Acknowledges the start and every block; stays silent on erase and burn unless told.
    void AcknowledgeTransfer(std::uint8_t pullAfter) {
        driver.onSend = [this, pullAfter](const Bytes& frame) {
            const auto sent = ParseSent(frame);
            if (!sent) return;
            if (sent->code == pullAfter) {
                driver.PullOut();
                return;
            }
            if (sent->code == 0x11) driver.Inject(TargetFrames::Status(0x12, 0));
            else if (sent->code != 0x07) Ack();
        };
    }
};

TEST_P(AdapterLostTest, TheWaitEndsAtOnceAndSaysWhatTheTargetWasLeftDoing) {
    const LostCase& c = GetParam();
    Connect();
    AcknowledgeTransfer(c.pullAfterSent);
    ASSERT_EQ(front.StartDownload(KindBoot, WriteFile("boot.bin", 2500)), 0);
    ASSERT_TRUE(front.WaitStage(c.endStage));
    const ReportCall last = front.Reports().back();
    EXPECT_EQ(last.stage, c.endStage);
    // 8: not the flash wait's time-out (3), which the short waits here would reach too.
    EXPECT_EQ(last.result, 8u);
    EXPECT_EQ(front.statusText(), c.text);
    EXPECT_EQ(engine.State(), StateOpened) << "the login went with the adapter";
    EXPECT_EQ(front.GetTargetVersion(MakeBuffer(kVersionBlockLen)), 2) << "a request after the loss is refused";

    std::ifstream in(folder / "history.jsonl");
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    const auto record = CUpdateHistory::ParseLine(line);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->stageCode, c.endStage);
    EXPECT_EQ(record->resultCode, 8u);
    EXPECT_EQ(record->result, c.text);

    // Plugged in again: a new login clears the loss and the next download burns.
    driver.onSend = nullptr;
    while (driver.NextSent(100ms)) {
    }
    Connect();
    driver.onSend = [this](const Bytes& frame) {
        const auto sent = ParseSent(frame);
        if (sent && sent->code == 0x11) driver.Inject(TargetFrames::Status(0x12, 0));
        else if (sent && sent->code != 0x31) Ack();
    };
    const std::size_t before = front.Reports().size();
    ASSERT_EQ(front.StartDownload(KindBoot, WriteFile("boot2.bin", 2500)), 0);
    std::optional<ReportCall> end;
    for (int i = 0; i < 500 && !end; ++i) {
        const auto reports = front.Reports();
        for (std::size_t n = before; n < reports.size(); ++n)
            if (reports[n].stage == 13 || reports[n].result != 0) end = reports[n];
        if (!end) std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(end) << "the download after the new login did not end";
    EXPECT_EQ(end->stage, 13u);
    EXPECT_EQ(end->result, 0u) << "the loss outlived the new login";
}

INSTANTIATE_TEST_SUITE_P(
    Steps, AdapterLostTest,
    ::testing::Values(
        LostCase{"WhileErasing", 0x11, 3,
                 "The adapter fake0 went away (unplugged or removed): the target was erasing its boot area. It finishes "
                 "the erase by itself and the area is then empty: plug the adapter in again, connect and download the "
                 "boot area again before the target restarts."},
        LostCase{"WhileBurning", 0x07, 13,
                 "The adapter fake0 went away (unplugged or removed): the target was burning its boot area. It finishes "
                 "the burn by itself, but whether it succeeded is unknown: plug the adapter in again, connect and check "
                 "the boot area or download it again before the target restarts."},
        LostCase{"WhileTransferring", 0x01, 63,
                 "The adapter fake0 went away (unplugged or removed): the transfer stopped before anything was burnt, "
                 "the target's flash is unchanged. Plug the adapter in again, connect and download again."}),
    [](const auto& test) { return std::string(test.param.name); });

// While listening nothing waits on a logged-in target: the loss ends nothing, and the
// target is still logged in to when it announces.
class AdapterLostWhileListeningTest : public LinkFixture {};

TEST_F(AdapterLostWhileListeningTest, EndsNothing) {
    front.SetPassword("kiwi");
    ASSERT_EQ(front.Listen(), 0);
    driver.PullOut();
    AnswerListen();
}

}  // namespace
}  // namespace fdp::test
