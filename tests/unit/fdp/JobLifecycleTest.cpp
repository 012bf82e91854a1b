// What a job leaves behind when it ends: the engine's record of it, a Cancel made for
// it, and the requests accepted while a staged download still erases and burns.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <thread>

#include "fdp/Sha256.h"
#include "tests/unit/fdp/LinkFixture.h"

namespace fdp::test {
namespace {

using namespace std::chrono_literals;

class JobLifecycleTest : public LinkFixture {
protected:
    // Answers every download-group command with status 0, and the erase with status 0.
    void AcknowledgeEverything() {
        driver.onSend = [this](const Bytes& frame) {
            const auto sent = ParseSent(frame);
            if (!sent) return;
            if (sent->code == EraseCode(KindBoot)) driver.Inject(TargetFrames::Status(FDP_RSP_ERASE, 0));
            else if (sent->code != FDP_CMD_GET_TRACE) Ack();
        };
    }

    std::vector<std::uint8_t> SentCodes() {
        std::vector<std::uint8_t> codes;
        while (const auto frame = driver.NextSent(300ms))
            if (const auto sent = ParseSent(*frame)) codes.push_back(sent->code);
        return codes;
    }
};

// The erase and burn phases run after the download's job was cleared; a request taken
// meanwhile must survive them and run next, with its own message.
TEST_F(JobLifecycleTest, ARequestAcceptedDuringTheEraseRunsAfterTheBurn) {
    Connect();
    ASSERT_EQ(front.StartDownload(KindBoot, WriteFile("boot.bin", 100)), 0);
    NextData();
    Ack();
    NextData();
    Ack();
    ASSERT_EQ(NextData().code, EraseCode(KindBoot));

    auto trace = MakeBuffer(kParamImageLen);
    ASSERT_EQ(front.GetTrace(trace), 0) << "the engine is idle once the transfer phase ended";
    driver.Inject(TargetFrames::Status(FDP_RSP_ERASE, 0));
    EXPECT_EQ(NextData().code, FDP_CMD_BURN);
    Ack();
    // The burnt area's version is read back on the worker before it takes the next job.
    EXPECT_EQ(NextData().code, FDP_CMD_TRANSFER);
    driver.Inject(TargetFrames::Status(FDP_RSP_TRANSFER_END, 0));
    EXPECT_EQ(NextData().code, FDP_CMD_GET_TRACE) << "the waiting request was lost";
    driver.Inject(TargetFrames::Data(FDP_RSP_TRACE_LENGTH, std::vector<std::uint8_t>{3, 0, 0, 0}));
    driver.Inject(TargetFrames::Numbered(FDP_RSP_TRACE_DATA, 1, std::vector<std::uint8_t>{'a', 'b', 'c'}));

    const auto result = front.WaitResult(WM_FDP_TRACE);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->wParam, NotifySuccess);
    EXPECT_EQ(trace->at(0), 'a');
    EXPECT_FALSE(front.WaitResult(WM_FDP_TRACE, 200ms)) << "one message for the trace, none for the erase";
    ASSERT_TRUE(front.WaitStage(13));
    EXPECT_EQ(front.Reports().back().result, 0u) << "the burn succeeded";
    EXPECT_EQ(engine.CurrentJob(), JobNone);
}

// The history line of a download names the file's digest, taken by the link as the
// download runs rather than by the thread that asked for it.
TEST_F(JobLifecycleTest, TheHistoryLineCarriesTheFilesDigest) {
    Connect();
    AcknowledgeEverything();
    const std::string path = WriteFile("boot.bin", 2500);
    ASSERT_EQ(front.StartDownload(KindBoot, path), 0);
    ASSERT_TRUE(front.WaitStage(13));
    ASSERT_TRUE(front.WaitBurntVersion());   // the line is written once the version was read back
    std::ifstream in(folder / "history.jsonl");
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    const auto digest = Sha256File(path);
    ASSERT_TRUE(digest);
    EXPECT_NE(line.find("\"sha256\":\"" + *digest + "\""), std::string::npos) << line;
}

// A Cancel that comes after the last block's answer still belongs to the download: it
// ends it as cancelled before anything is burnt, and leaves nothing behind for the
// next download group.
TEST_F(JobLifecycleTest, ACancelAfterTheLastBlockEndsWithTheDownloadGroup) {
    Connect();
    AcknowledgeEverything();
    int cancels = 0;
    front.onReport = [&](const ReportCall& r) {
        if (r.stage == 62 && r.position == 1000 && cancels++ == 0) {
            EXPECT_EQ(engine.Cancel(), 0);
        }
    };
    ASSERT_EQ(front.StartDownload(KindBoot, WriteFile("boot.bin", 2000)), 0);
    const auto transfer = front.WaitResult(WM_FDP_DOWNLOAD);
    ASSERT_TRUE(transfer);
    EXPECT_EQ(transfer->wParam, NotifyCancelled);
    EXPECT_TRUE(front.WaitStage(63));
    const auto codes = SentCodes();
    EXPECT_NE(std::find(codes.begin(), codes.end(), FDP_CMD_ABORT), codes.end());
    EXPECT_EQ(std::find(codes.begin(), codes.end(), FDP_CMD_BURN), codes.end()) << "nothing burnt after a cancel";

    // The next download burns and says so.
    front.onReport = nullptr;
    ASSERT_EQ(front.StartDownload(KindBoot, WriteFile("boot2.bin", 2000)), 0);
    ASSERT_TRUE(front.WaitStage(13));
    EXPECT_EQ(front.Reports().back().result, 0u);
    EXPECT_EQ(front.resultText(), "Operation has been committed successfully!");
}

// A front end that hears of a job's end (the command-line tool) may ask for the next job
// at once: by then the engine is idle.
TEST_F(JobLifecycleTest, AJobsEndIsHeardOnceTheEngineIsIdle) {
    Connect();
    FdpRequest erase;
    erase.job = JobErase;
    erase.kind = KindBoot;
    std::atomic<int> next{-1};
    std::atomic<unsigned> firstResult{0};
    front.onJobEnd = [&](std::uint8_t job, unsigned result) {
        EXPECT_EQ(job, JobErase);
        if (next >= 0) return;
        firstResult = result;
        next = engine.Submit(erase);
    };
    ASSERT_EQ(engine.Submit(erase), 0);
    EXPECT_EQ(NextData().code, EraseCode(KindBoot));
    driver.Inject(TargetFrames::Status(FDP_RSP_ERASE, 5));   // a status without a message
    EXPECT_EQ(NextData().code, EraseCode(KindBoot)) << "the request made on hearing the end was lost";
    driver.Inject(TargetFrames::Status(FDP_RSP_ERASE, 0));
    ASSERT_TRUE(front.WaitResult(WM_FDP_ERASE));   // the worker is done with the hook
    EXPECT_EQ(next, 0);
    EXPECT_EQ(firstResult, 5u) << "the target's status as it came";
    front.onJobEnd = nullptr;
}

// Codes outside the engine's jobs are refused; none of them may stay recorded. The
// refusal is not "not connected" (2, which the user is told) nor "busy" (1), logged in
// or not: a programming error must not send the technician to the cable.
TEST_F(JobLifecycleTest, UnknownJobCodesAreRefusedAndLeaveTheEngineIdle) {
    const auto refuseAll = [this](const char* when) {
        for (const int code : {0, 6, 9, 42, 99, 101, 255}) {
            FdpRequest request;
            request.job = static_cast<std::uint8_t>(code);
            const int result = engine.Submit(request);
            EXPECT_NE(result, 0) << when << ", job " << code;
            EXPECT_NE(result, 1) << when << ", job " << code << ": told busy";
            EXPECT_NE(result, 2) << when << ", job " << code << ": told not connected";
            EXPECT_EQ(engine.CurrentJob(), JobNone) << when << ", job " << code;
        }
    };
    FdpRequest params;
    params.job = 3;   // get parameters, a known job
    EXPECT_EQ(engine.Submit(params), 2) << "not logged in";
    refuseAll("not logged in");
    Connect();
    refuseAll("logged in");
    AcknowledgeEverything();
    ASSERT_EQ(front.StartDownload(KindBoot, WriteFile("boot.bin", 10)), 0);
    EXPECT_TRUE(front.WaitStage(13));
}

struct UnopenableCase {
    const char* name;
    enum { Missing, Directory, Fifo, Device } kind;
};

class UnopenableFileTest : public JobLifecycleTest, public ::testing::WithParamInterface<UnopenableCase> {};

// Only a regular file that exists can be sent: anything else is a file that cannot be
// opened, found before the start command.
TEST_P(UnopenableFileTest, ReportsStage61AndSendsNothing) {
    std::string path = (folder / "thing").string();
    switch (GetParam().kind) {
    case UnopenableCase::Missing: break;
    case UnopenableCase::Directory: ASSERT_TRUE(std::filesystem::create_directory(path)); break;
    case UnopenableCase::Fifo: ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); break;
    case UnopenableCase::Device: path = "/dev/zero"; break;
    }
    Connect();
    ASSERT_EQ(front.StartDownload(KindProgram, path), 0);
    const auto result = front.WaitResult(WM_FDP_DOWNLOAD);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->wParam, NotifyFileError);
    EXPECT_EQ(result->lParam, 0);
    const auto reports = front.Reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].stage, 61u);
    EXPECT_EQ(reports[0].result, FdpFileError);
    EXPECT_EQ(driver.SentCount(), 1u) << "only the login was sent";
}

INSTANTIATE_TEST_SUITE_P(Files, UnopenableFileTest,
                         ::testing::Values(UnopenableCase{"Missing", UnopenableCase::Missing},
                                           UnopenableCase{"Directory", UnopenableCase::Directory},
                                           UnopenableCase{"Fifo", UnopenableCase::Fifo},
                                           UnopenableCase{"Device", UnopenableCase::Device}),
                         [](const ::testing::TestParamInfo<UnopenableCase>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace fdp::test
