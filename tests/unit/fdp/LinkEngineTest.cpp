// The device link end to end on the in-memory driver: the test plays the target.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/unit/fdp/LinkFixture.h"

namespace fdp::test {
namespace {

using namespace std::chrono_literals;

class LinkTest : public LinkFixture {};

std::vector<std::uint8_t> Range(std::size_t n, std::uint8_t seed = 0) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(seed + i);
    return v;
}

TEST_F(LinkTest, LoginFrameCarriesThePasswordMixedWithTheChallenge) {
    front.SetPassword("kiwi-orchard-2026");   // 17 characters: the first 16 count
    ASSERT_EQ(front.Listen(), 0);
    Announce(0xCAFEBABE, 7, 9);
    const auto login = driver.NextSent();
    ASSERT_TRUE(login);
    ASSERT_EQ(login->size(), 60u);
    EXPECT_TRUE(std::equal(TargetFrames::kTarget.begin(), TargetFrames::kTarget.end(), login->begin()));
    EXPECT_TRUE(std::equal(FakePacketDriver::kLocal.begin(), FakePacketDriver::kLocal.end(), login->begin() + 6));
    EXPECT_EQ((*login)[14], FDP_FRAME_LOGIN);
    EXPECT_LE(ReadLe32(login->data() + 15), 32767u);
    // "kiwi-orchard" as typed, then "-202" XOR the challenge's bytes BE BA FE CA.
    const Bytes expected = {0x6B, 0x69, 0x77, 0x69, 0x2D, 0x6F, 0x72, 0x63,
                            0x68, 0x61, 0x72, 0x64, 0x93, 0x88, 0xCE, 0xF8};
    EXPECT_EQ(Bytes(login->begin() + 19, login->begin() + 35), expected);
    EXPECT_TRUE(std::all_of(login->begin() + 35, login->end(), [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(front.TargetAddress(), TargetFrames::kTarget);
}

// A target may answer before the send call has even returned; the login wait must
// already be armed for it.
TEST_F(LinkTest, ALoginReplyArrivingDuringTheSendIsNotLost) {
    driver.onSend = [this](const Bytes& frame) {
        if (frame[kFrameTypeOffset] != FDP_FRAME_LOGIN) return;
        const Bytes reply = TargetFrames::LoginReply(0);
        engine.Channel()->HandleFrame(reply.data(), static_cast<std::uint32_t>(reply.size()));
    };
    ASSERT_EQ(front.Listen(), 0);
    Announce(0x11223344);
    const auto result = front.WaitResult(WM_FDP_CONNECT);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->wParam, ConnectOk);
}

struct LoginCase {
    std::uint8_t status;
    std::uint8_t result;
};

class LoginStatusTest : public LinkFixture, public ::testing::WithParamInterface<LoginCase> {};

TEST_P(LoginStatusTest, MapsToConnectResult) {
    ASSERT_EQ(front.Listen(), 0);
    Announce(1);
    ASSERT_TRUE(driver.NextSent());
    driver.Inject(TargetFrames::LoginReply(GetParam().status));
    const auto result = front.WaitResult(WM_FDP_CONNECT);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->wParam, GetParam().result);
    const bool ok = GetParam().result == ConnectOk;
    EXPECT_EQ(engine.State(), ok ? StateConnected : StateOpened);
    EXPECT_EQ(engine.Channel()->State(), ok ? ChannelConnected : ChannelIdle);
}

INSTANTIATE_TEST_SUITE_P(Statuses, LoginStatusTest,
                         ::testing::Values(LoginCase{0, ConnectOk}, LoginCase{1, ConnectBadPassword},
                                           LoginCase{2, ConnectFlashUnsupported}, LoginCase{5, ConnectOk},
                                           LoginCase{9, ConnectVersionLow}, LoginCase{11, ConnectAborted}));

TEST_F(LinkTest, FramesNotCapturedWholeOrOfTheWrongStateAreDropped) {
    ASSERT_EQ(front.Listen(), 0);
    Announce(7);                                                       // waits until listening
    driver.NextSent();
    ASSERT_EQ(front.WaitResult(WM_FDP_CONNECT)->wParam, ConnectTimeout);  // no login reply came
    ASSERT_EQ(front.Listen(), 0);
    driver.Inject(TargetFrames::LoginReply(0));                        // not listening for it
    for (int i = 0; i < 500 && engine.Channel()->State() != ChannelListening; ++i) std::this_thread::sleep_for(2ms);
    driver.Inject(TargetFrames::Announce(1), 1400);                    // cut short by the capture
    EXPECT_FALSE(driver.NextSent(300ms));
    Announce(2);
    EXPECT_TRUE(driver.NextSent());
}

TEST_F(LinkTest, NoAnnounceEndsInConnectTimeout) {
    ASSERT_EQ(front.Listen(), 0);
    const auto result = front.WaitResult(WM_FDP_CONNECT);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->wParam, ConnectTimeout);
    EXPECT_EQ(engine.CurrentJob(), JobNone);
}

TEST_F(LinkTest, StagedDownloadSendsNumberedBlocksThenErasesAndBurns) {
    Connect();
    const auto path = WriteFile("program.bin", 2500);
    ASSERT_EQ(front.StartDownload(KindProgram, path), 0);

    const SentData start = NextData();
    EXPECT_EQ(start.code, FDP_CMD_START);
    ASSERT_EQ(start.length, 5);
    EXPECT_EQ(start.data[0], KindProgram);
    EXPECT_EQ(ReadLe32(&start.data[1]), 2500u);
    Ack();

    struct Block { std::uint16_t number; std::uint16_t length; };
    for (const Block b : {Block{1, 1026}, Block{2, 1026}, Block{3, 454}}) {
        const SentData block = NextData();
        EXPECT_EQ(block.code, KindProgram);
        EXPECT_EQ(block.length, b.length);
        EXPECT_EQ(ReadLe16(block.data.data()), b.number);
        Ack();
    }
    const auto transfer = front.WaitResult(WM_FDP_DOWNLOAD);
    ASSERT_TRUE(transfer);
    EXPECT_EQ(transfer->wParam, NotifySuccess);
    EXPECT_EQ(transfer->lParam, KindProgram);

    EXPECT_EQ(NextData().code, EraseCode(KindProgram));
    driver.Inject(TargetFrames::Status(FDP_RSP_ERASE, 0));
    EXPECT_EQ(NextData().code, FDP_CMD_BURN);
    Ack();
    ASSERT_TRUE(front.WaitStage(33));

    std::vector<unsigned> stages;
    for (const ReportCall& r : front.Reports())
        if (r.stage != 62 || r.position == 0) stages.push_back(r.stage);
    EXPECT_EQ(stages, (std::vector<unsigned>{62, 63, 21, 22, 23, 31, 32, 33}));
    EXPECT_EQ(front.Reports().back().result, 0u);
    EXPECT_EQ(front.resultText(), "Operation has been committed successfully!");
}

TEST_F(LinkTest, ProgressIsReportedPerMilleAfterEveryBlock) {
    Connect();
    driver.onSend = [this](const Bytes&) { Ack(); };
    ASSERT_EQ(SubmitDownloadAndBurn(KindBoot, WriteFile("boot.bin", 3000)), 0);
    const auto result = front.WaitResult(WM_FDP_DOWNLOAD);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->wParam, NotifySuccess);

    std::vector<std::int32_t> progress;
    for (const NotifyCall& m : front.Messages())
        if (m.message == WM_FDP_DOWNLOAD && m.wParam == NotifyProgress) progress.push_back(m.lParam);
    EXPECT_EQ(progress, (std::vector<std::int32_t>{342, 683, 1000}));
    std::vector<std::uint32_t> reported;
    for (const ReportCall& r : front.Reports()) reported.push_back(r.position);
    EXPECT_EQ(reported, (std::vector<std::uint32_t>{342, 683, 1000}));
}

TEST_F(LinkTest, TheThousandAndFirstBlockIsNumberedZero) {
    Connect();
    std::vector<std::uint16_t> numbers;
    driver.onSend = [&](const Bytes& frame) {
        const auto sent = ParseSent(frame);
        if (sent && sent->code == KindParam) numbers.push_back(ReadLe16(sent->data.data()));
        Ack();
    };
    ASSERT_EQ(SubmitDownloadAndBurn(KindParam, WriteFile("big.bin", 1002 * 1024)), 0);
    const auto result = front.WaitResult(WM_FDP_DOWNLOAD, 60s);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->wParam, NotifySuccess);
    ASSERT_EQ(numbers.size(), 1002u);
    EXPECT_EQ(numbers[999], 1000);
    EXPECT_EQ(numbers[1000], 0);
    EXPECT_EQ(numbers[1001], 1);
}

TEST_F(LinkTest, ATimedOutBlockIsSentThreeTimesUnchangedThenTimesOut) {
    Connect();
    ASSERT_EQ(front.StartDownload(KindBoot, WriteFile("boot.bin", 2048)), 0);
    NextData();
    Ack();
    NextData();
    Ack();
    std::vector<Bytes> sends;
    for (int i = 0; i < 3; ++i) {
        const auto frame = driver.NextSent();
        ASSERT_TRUE(frame);
        sends.push_back(*frame);
    }
    EXPECT_EQ(ReadLe16(&sends[0][18]), 2);
    EXPECT_EQ(sends[0], sends[1]);
    EXPECT_EQ(sends[1], sends[2]);
    const auto result = front.WaitResult(WM_FDP_DOWNLOAD);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->wParam, NotifyTimeout);
    ASSERT_TRUE(front.WaitStage(63));
    EXPECT_FALSE(driver.NextSent(400ms)) << "nothing follows a failed transfer";
    EXPECT_EQ(front.statusText(), "Downlaod progress has been stopped, pleas click \"next\" to try again!");
}

TEST_F(LinkTest, StatusReply04AcknowledgesLike02AndAnEraseReplyIsDropped) {
    Connect();
    ASSERT_EQ(front.StartDownload(KindBoot, WriteFile("boot.bin", 1500)), 0);
    NextData();
    Ack(0, FDP_RSP_STATUS_04);
    EXPECT_EQ(ReadLe16(NextData().data.data()), 1);
    driver.Inject(TargetFrames::Status(FDP_RSP_ERASE, 0));   // another group's reply
    EXPECT_FALSE(driver.NextSent(60ms)) << "an erase reply must not acknowledge a block";
    Ack(0, FDP_RSP_STATUS_04);
    EXPECT_EQ(ReadLe16(NextData().data.data()), 2);
    Ack(0, FDP_RSP_STATUS_04);
    const auto result = front.WaitResult(WM_FDP_DOWNLOAD);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->wParam, NotifySuccess);
}

TEST_F(LinkTest, TheLargestBlockIsBuiltInBoundsAndRefusedByTheDriver) {
    Connect();
    driver.onSend = [this](const Bytes&) { Ack(); };   // acknowledges the start
    const std::vector<std::uint8_t> block(kMaxBlockPayload, 0xAB);
    // 1496 bytes and a number make a 1502-byte payload: over the 1500 a frame may carry.
    EXPECT_EQ(engine.Protocol()->Download(KindBoot, block.data(), kMaxBlockPayload, kMaxBlockPayload, true),
              FdpTimeout);
    EXPECT_EQ(driver.SentCount(), 2u) << "the login and the start only";
}

TEST_F(LinkTest, ABlockStatusOtherThanZeroNeverGoesOnToBurn) {
    Connect();
    ASSERT_EQ(SubmitDownloadAndBurn(KindProgram, WriteFile("program.bin", 3000)), 0);
    NextData();
    Ack();
    NextData();
    Ack(5);   // a target failure code without a message of its own
    EXPECT_FALSE(driver.NextSent(500ms)) << "no burn after a refused block";
    EXPECT_EQ(engine.CurrentJob(), JobNone);
    for (const NotifyCall& m : front.Messages()) EXPECT_NE(m.wParam, NotifySuccess);
}

TEST_F(LinkTest, EraseWaitsAsLongAsTheFlashTakesNotTheStatusWait) {
    Connect();
    driver.onSend = [this](const Bytes& frame) {
        const auto sent = ParseSent(frame);
        if (sent && sent->code < FDP_CMD_ERASE_BASE) Ack();   // start, blocks and burn
    };
    ASSERT_EQ(front.StartDownload(KindProgram, WriteFile("program.bin", 100)), 0);
    while (NextData().code != EraseCode(KindProgram)) {
        ASSERT_FALSE(HasFailure());
    }
    // Between the status wait and the program area's flash wait.
    const LinkTimeouts& t = engine.Timeouts();
    ASSERT_LT(t.status * 2, t.Flash(KindProgram));
    std::this_thread::sleep_for(std::chrono::milliseconds((t.status + t.Flash(KindProgram)) / 2));
    driver.Inject(TargetFrames::Status(FDP_RSP_ERASE, 0));
    ASSERT_TRUE(front.WaitStage(23));
    for (const ReportCall& r : front.Reports()) {
        if (r.stage == 23) {
            EXPECT_EQ(r.result, FdpOk) << "the erase must not have timed out";
        }
    }
}

TEST_F(LinkTest, StagedDownloadWhoseEraseFailsNeverStartsToBurn) {
    Connect();
    driver.onSend = [this](const Bytes& frame) {
        const auto sent = ParseSent(frame);
        if (sent && sent->code == EraseCode(KindBoot)) driver.Inject(TargetFrames::Status(FDP_RSP_ERASE, 1));
        else Ack();
    };
    ASSERT_EQ(front.StartDownload(KindBoot, WriteFile("boot.bin", 100)), 0);
    ASSERT_TRUE(front.WaitStage(3));
    std::this_thread::sleep_for(100ms);
    bool sawStage3 = false;
    for (const ReportCall& r : front.Reports()) {
        EXPECT_NE(r.stage, 11u);
        if (r.stage == 3) {
            sawStage3 = true;
            EXPECT_EQ(r.result, FdpFailed);
        }
    }
    EXPECT_TRUE(sawStage3);
    EXPECT_EQ(front.resultText(), "Operation failed, please try again!");
}

TEST_F(LinkTest, AFileThatEndsEarlyStopsTheDownloadWithoutBurning) {
    Connect();
    const auto path = WriteFile("shrinking.bin", 4096);
    int blocks = 0;
    driver.onSend = [&](const Bytes& frame) {
        const auto sent = ParseSent(frame);
        if (sent && sent->code == KindProgram && ++blocks == 1) std::filesystem::resize_file(path, 1500);
        if (sent && sent->code == FDP_CMD_BURN) ADD_FAILURE() << "burnt a short image";
        Ack();
    };
    ASSERT_EQ(SubmitDownloadAndBurn(KindProgram, path), 0);
    const auto result = front.WaitResult(WM_FDP_DOWNLOAD);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->wParam, NotifyFileError);
    EXPECT_EQ(result->lParam, FileOtherError);
}

TEST_F(LinkTest, CancelDuringABlockSendsAbortAndReportsCancelled) {
    Connect();
    for (const bool staged : {false, true}) {
        SCOPED_TRACE(staged ? "staged download" : "download and burn");
        const auto path = WriteFile("boot.bin", 5000);
        ASSERT_EQ(staged ? front.StartDownload(KindBoot, path) : SubmitDownloadAndBurn(KindBoot, path), 0);
        NextData();
        Ack();
        NextData();   // block 1 outstanding
        // A staged download counts as a download and burn while its transfer runs.
        EXPECT_EQ(engine.CurrentJob(), JobDownloadBurn);
        EXPECT_EQ(engine.Cancel(), 0);
        EXPECT_EQ(NextData().code, FDP_CMD_ABORT);
        Ack(1);   // whatever the abort's answer says
        const auto result = front.WaitResult(WM_FDP_DOWNLOAD);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->wParam, NotifyCancelled);
    }
    ASSERT_TRUE(front.WaitStage(63));
    EXPECT_EQ(front.Reports().back().result, FdpCancelled);
    EXPECT_FALSE(driver.NextSent(200ms)) << "a cancelled download is neither erased nor burnt";
}

TEST_F(LinkTest, ParameterAnswerCollectsNumberedBlocks) {
    Connect();
    auto buffer = MakeBuffer(kParamImageLen);
    ASSERT_EQ(front.GetParams(buffer), 0);
    EXPECT_EQ(NextData().code, FDP_CMD_GET_PARAMS);
    const auto image = Range(kParamImageLen, 3);
    for (std::uint16_t n = 0; n < 8; ++n)
        driver.Inject(TargetFrames::Numbered(FDP_RSP_PARAMS_DATA, static_cast<std::uint16_t>(n + 1),
                                             std::span(image).subspan(n * 1024u, 1024)));
    driver.Inject(TargetFrames::Status(FDP_RSP_PARAMS_END, 0));
    const auto result = front.WaitResult(WM_FDP_PARAMS);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->wParam, NotifySuccess);
    EXPECT_EQ(*buffer, image);
}

TEST_F(LinkTest, ParameterAnswerWithABrokenSequenceFailsEvenWithStatusZero) {
    Connect();
    auto buffer = MakeBuffer(kParamImageLen);
    ASSERT_EQ(front.GetParams(buffer), 0);
    NextData();
    const auto data = Range(100, 1);   // no zero byte: a stored block shows
    driver.Inject(TargetFrames::Numbered(FDP_RSP_PARAMS_DATA, 1, data));
    driver.Inject(TargetFrames::Numbered(FDP_RSP_PARAMS_DATA, 3, data));
    // A block numbered 1001 must not mend the sequence.
    driver.Inject(TargetFrames::Numbered(FDP_RSP_PARAMS_DATA, 1001, data));
    driver.Inject(TargetFrames::Status(FDP_RSP_PARAMS_END, 0));
    const auto result = front.WaitResult(WM_FDP_PARAMS);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->wParam, NotifyFailed);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), buffer->begin()));
    EXPECT_TRUE(std::all_of(buffer->begin() + 100, buffer->end(), [](std::uint8_t b) { return b == 0; }))
        << "nothing after the break was stored";
}

TEST_F(LinkTest, AnAnswerLargerThanTheBufferFillsItExactly) {
    Connect();
    auto block = MakeBuffer(kVersionBlockLen + 8);   // the caller's block has room past the 64 bytes
    (*block)[0] = 0x0E;
    ASSERT_EQ(front.GetTargetVersion(block), 0);
    const SentData sent = NextData();
    EXPECT_EQ(sent.code, FDP_CMD_TRANSFER);
    ASSERT_EQ(sent.length, 1 + kVersionBlockLen);
    EXPECT_EQ(sent.data[0], TransferVersion);
    EXPECT_EQ(sent.data[1], 0x0E);
    const auto answer = Range(50, 1);
    driver.Inject(TargetFrames::Numbered(FDP_RSP_TRANSFER_DATA, 1, answer));
    driver.Inject(TargetFrames::Numbered(FDP_RSP_TRANSFER_DATA, 2, answer));
    driver.Inject(TargetFrames::Status(FDP_RSP_TRANSFER_END, 0));
    const auto result = front.WaitResult(WM_FDP_TRANSFER);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->wParam, NotifySuccess);
    EXPECT_EQ(result->lParam, TransferVersion);
    EXPECT_TRUE(std::equal(answer.begin(), answer.end(), block->begin()));
    EXPECT_TRUE(std::equal(answer.begin(), answer.begin() + 14, block->begin() + 50));
    EXPECT_EQ((*block)[64], 0) << "nothing past the 64 bytes asked for";
}

TEST_F(LinkTest, ATransferEndingWithSevenSendsNoMessage) {
    Connect();
    ASSERT_EQ(front.DiagnoseTarget(MakeBuffer(kTestBlockLen)), 0);
    EXPECT_EQ(NextData().length, 1 + kTestBlockLen);
    driver.Inject(TargetFrames::Status(FDP_RSP_TRANSFER_END, FdpNoMemory));
    for (int i = 0; i < 50 && engine.CurrentJob() != JobNone; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(engine.CurrentJob(), JobNone);
    std::this_thread::sleep_for(50ms);
    for (const NotifyCall& m : front.Messages()) EXPECT_NE(m.message, WM_FDP_TRANSFER);
}

TEST_F(LinkTest, TraceSucceedsAtItsAnnouncedTotalWithoutAnEndReply) {
    Connect();
    auto buffer = MakeBuffer(kParamImageLen);
    ASSERT_EQ(front.GetTrace(buffer), 0);
    EXPECT_EQ(NextData().code, FDP_CMD_GET_TRACE);
    std::uint8_t total[4];
    WriteLe32(total, 3000);
    driver.Inject(TargetFrames::Data(FDP_RSP_TRACE_LENGTH, total));
    const auto text = Range(3000, 'a');
    driver.Inject(TargetFrames::Numbered(FDP_RSP_TRACE_DATA, 1, std::span(text).first(1024)));
    driver.Inject(TargetFrames::Numbered(FDP_RSP_TRACE_DATA, 2, std::span(text).subspan(1024, 1024)));
    driver.Inject(TargetFrames::Numbered(FDP_RSP_TRACE_DATA, 3, std::span(text).subspan(2048)));
    const auto result = front.WaitResult(WM_FDP_TRACE);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->wParam, NotifySuccess);
    EXPECT_TRUE(std::equal(text.begin(), text.end(), buffer->begin()));
    front.ShutdownLink();
    EXPECT_EQ(std::filesystem::file_size(folder / "trace.txt"), 3000u);
}

TEST_F(LinkTest, TraceFailsAtOnceOnANumberingBreak) {
    Connect();
    ASSERT_EQ(front.GetTrace(MakeBuffer(kParamImageLen)), 0);
    NextData();
    std::uint8_t total[4];
    WriteLe32(total, 5000);
    driver.Inject(TargetFrames::Data(FDP_RSP_TRACE_LENGTH, total));
    const auto text = Range(1000, 'a');
    driver.Inject(TargetFrames::Numbered(FDP_RSP_TRACE_DATA, 1, text));
    driver.Inject(TargetFrames::Numbered(FDP_RSP_TRACE_DATA, 5, text));
    driver.Inject(TargetFrames::Numbered(FDP_RSP_TRACE_DATA, 2, text));   // after the break: dropped
    const auto result = front.WaitResult(WM_FDP_TRACE, 500ms);            // well before the time-out
    ASSERT_TRUE(result);
    EXPECT_EQ(result->wParam, NotifyFailed);
    front.ShutdownLink();
    EXPECT_EQ(std::filesystem::file_size(folder / "trace.txt"), 1000u);
}

TEST_F(LinkTest, EraseWhileTheLinkIsDownIsRefusedAndSendsNothing) {
    EXPECT_EQ(engine.Protocol()->Erase(KindBoot), FdpInvalidOperation);
    EXPECT_EQ(driver.SentCount(), 0u);
}

TEST_F(LinkTest, SubmitAndPrepareListenRefusals) {
    FdpRequest params;
    params.job = JobGetParams;
    params.buffer = MakeBuffer(kParamImageLen);
    params.size = kParamImageLen;
    EXPECT_EQ(engine.Submit(params), 2) << "not logged in";

    FdpRequest listen;
    listen.job = JobListen;
    ASSERT_EQ(engine.Submit(listen), 0);
    EXPECT_EQ(engine.Submit(listen), 0) << "a listen while Opened is taken even with a job recorded";
    EXPECT_EQ(engine.PrepareListen(), FdpBusy);

    Announce(5);
    ASSERT_TRUE(driver.NextSent());
    driver.Inject(TargetFrames::LoginReply(0));
    ASSERT_TRUE(front.WaitResult(WM_FDP_CONNECT));
    ASSERT_EQ(engine.State(), StateConnected);

    // A staged download in its erase phase: no job recorded, but a group in progress.
    ASSERT_EQ(front.StartDownload(KindBoot, WriteFile("boot.bin", 10)), 0);
    EXPECT_EQ(engine.Submit(params), 1) << "busy while the download is recorded";
    NextData();
    Ack();
    NextData();
    Ack();
    EXPECT_EQ(NextData().code, EraseCode(KindBoot));
    EXPECT_EQ(engine.CurrentJob(), JobNone);
    EXPECT_EQ(engine.PrepareListen(), FdpInvalidOperation);
    driver.Inject(TargetFrames::Status(FDP_RSP_ERASE, 0));
    NextData();
    Ack();
    ASSERT_TRUE(front.WaitStage(13));

    ASSERT_EQ(engine.CloseAdapter(0), 0);
    EXPECT_EQ(engine.PrepareListen(), FdpNotOpened);
}

TEST_F(LinkTest, ListenStatusTexts) {
    ASSERT_EQ(front.Listen(), 0);
    EXPECT_EQ(front.resultText(), "System is listening, please wait for a while!");
    EXPECT_EQ(front.Listen(), FdpBusy);
    EXPECT_EQ(front.resultText(), "System is listening, please wait for a while!");

    Announce(5);
    ASSERT_TRUE(driver.NextSent());
    driver.Inject(TargetFrames::LoginReply(0));
    ASSERT_TRUE(front.WaitResult(WM_FDP_CONNECT));
    ASSERT_EQ(front.StartDownload(KindBoot, WriteFile("boot.bin", 10)), 0);
    // The worker's first report may already have followed the request's own text.
    const std::string text = front.resultText();
    EXPECT_TRUE(text == "Download operation is committing , please wait for a while!" ||
                text == "Operation has been committed successfully!") << text;
    EXPECT_EQ(front.Listen(), FdpBusy);
    EXPECT_EQ(front.resultText(), "System is busy, please wait for a while!");
    EXPECT_EQ(front.StartDownload(KindBoot, "x"), 1);
    EXPECT_EQ(front.resultText(), "The last operation has not been completed, please wait for a while!");
    NextData();
    Ack(1);
    ASSERT_TRUE(front.WaitResult(WM_FDP_DOWNLOAD));

    ASSERT_EQ(engine.CloseAdapter(0), 0);
    EXPECT_EQ(front.Listen(), FdpNotOpened);
    EXPECT_EQ(front.resultText(), "The interface of the usb or ethernet has not been opened!");
}

TEST_F(LinkTest, RequestsWhileNotConnectedAreRefusedWithTheirText) {
    EXPECT_EQ(front.StartDownload(KindBoot, "boot.bin"), 2);
    EXPECT_EQ(front.resultText(), "PC has not been connected with the target!");
    EXPECT_EQ(front.GetParams(MakeBuffer(kParamImageLen)), 2);
    EXPECT_EQ(driver.SentCount(), 0u);
}

// Stop must come back promptly from every state, with the link's real time-outs. It
// wakes the receiver from its read, which would otherwise hold it up to the driver's
// read time-out of a second: the bound tells the two apart.
class StopTest : public ::testing::Test {
protected:
    static constexpr auto kStopBound = 300ms;

    void StartLink() {
        front.SetProgramFolder(std::filesystem::temp_directory_path().string());
        ASSERT_EQ(engine.Start(&driver, &front), 1);
        front.SetLink(&engine, &driver);
        ASSERT_EQ(engine.OpenAdapter(0), OpenOk);
    }
    void ConnectAndStart(std::size_t fileSize) {
        StartLink();
        ASSERT_EQ(front.Listen(), 0);
        for (int i = 0; i < 500 && engine.Channel()->State() != ChannelListening; ++i)
            std::this_thread::sleep_for(2ms);
        driver.Inject(TargetFrames::Announce(5));
        ASSERT_TRUE(driver.NextSent());
        driver.Inject(TargetFrames::LoginReply(0));
        ASSERT_TRUE(front.WaitResult(WM_FDP_CONNECT));
        file = std::filesystem::temp_directory_path() / ("kelvane-stop-" + std::to_string(::getpid()));
        std::ofstream(file, std::ios::binary) << std::string(fileSize, 'x');
        ASSERT_EQ(front.StartDownload(KindProgram, file.string()), 0);
    }
    void TearDown() override {
        if (!file.empty()) std::filesystem::remove(file);
    }
    std::chrono::milliseconds TimeStop() {
        if (engine.State() != StateNotOpened) {
            EXPECT_TRUE(driver.WaitForIdleRead());
        }
        const auto before = std::chrono::steady_clock::now();
        engine.Stop();
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - before);
    }

    FakePacketDriver driver;
    RecordingFrontEnd front;
    CLinkSession engine;
    std::filesystem::path file;
};

TEST_F(StopTest, WithNoAdapterOpen) {
    ASSERT_EQ(engine.Start(&driver, &front), 1);
    EXPECT_LT(TimeStop(), kStopBound);
}

TEST_F(StopTest, WhileListening) {
    StartLink();
    ASSERT_EQ(front.Listen(), 0);
    std::this_thread::sleep_for(50ms);
    EXPECT_LT(TimeStop(), kStopBound);
}

TEST_F(StopTest, MidDownload) {
    ConnectAndStart(10000);
    ASSERT_TRUE(driver.NextSent());   // start
    driver.Inject(TargetFrames::Status(FDP_RSP_STATUS_02, 0));
    ASSERT_TRUE(driver.NextSent());   // block 1, left unanswered
    EXPECT_LT(TimeStop(), kStopBound);
}

TEST_F(StopTest, MidEraseWait) {
    driver.onSend = [this](const Bytes& frame) {
        const auto sent = ParseSent(frame);
        if (sent && sent->code < FDP_CMD_ERASE_BASE) driver.Inject(TargetFrames::Status(FDP_RSP_STATUS_02, 0));
    };
    ConnectAndStart(100);
    ASSERT_TRUE(front.WaitStage(22));
    std::this_thread::sleep_for(50ms);
    EXPECT_LT(TimeStop(), kStopBound);
}

}  // namespace
}  // namespace fdp::test
