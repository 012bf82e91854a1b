#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "fdp/LinkTexts.h"
#include "tests/support/RecordingFrontEnd.h"

namespace fdp::test {
namespace {

struct ReportCase {
    unsigned stage;
    unsigned result;
    const char* status;
    const char* outcome;
};

class ReportTextTest : public ::testing::TestWithParam<ReportCase> {};

TEST_P(ReportTextTest, ComposesStatusAndResultTexts) {
    RecordingFrontEnd front;
    const std::optional<Stage> stage = Stage::FromNumber(GetParam().stage);
    if (!stage) {
        // A number that names no stage is no report: nothing can publish it.
        EXPECT_STREQ(GetParam().status, "Invaild opreation command!");
        return;
    }
    front.Publish(StageReport{*stage, GetParam().result, 500, 1000, {}});
    EXPECT_EQ(front.statusText(), GetParam().status);
    EXPECT_EQ(front.resultText(), GetParam().outcome);
}

constexpr const char* kOk = "Operation has been committed successfully!";
constexpr const char* kFailed = "Operation failed, please try again!";
constexpr const char* kStopped = "Downlaod progress has been stopped, pleas click \"next\" to try again!";

INSTANTIATE_TEST_SUITE_P(
    Stages, ReportTextTest,
    ::testing::Values(ReportCase{51, 0, "Start to burn parameter area!", kOk},
                      ReportCase{23, 3, kStopped, kFailed},
                      ReportCase{62, 0, "In transferring data...", kOk},
                      ReportCase{1, 0, "Start to erase boot area!", kOk},
                      ReportCase{33, 0, "Burn program area successfully!", kOk},
                      ReportCase{63, 0, "Transfer data to target successfully!", kOk},
                      ReportCase{83, 0, "Get trace info from target successfully!", kOk},
                      ReportCase{64, 0, "Invaild opreation command!", kOk},
                      ReportCase{93, 0, "Invaild opreation command!", kOk},
                      ReportCase{0, 0, "Invaild opreation command!", kOk}));

TEST(ResultTexts, CoverTheNamedResultsAndOneForTheRest) {
    struct Case { unsigned result; const char* text; };
    const Case cases[] = {{0, "successfully!"}, {1, "failed!"}, {2, "invalid opreation code!"},
                          {3, "time out!"}, {4, "user cancelled!"}, {7, "no enough memory!"},
                          {8, "inferface has not been opened!"}, {9, "system is in busy!"},
                          {10, "file operation failed!"}, {5, "unkonwn error!"}, {11, "unkonwn error!"}};
    for (const Case& c : cases) EXPECT_EQ(ResultText(c.result), c.text) << c.result;
}

TEST(Credentials, PasswordBlockIsTheFirstSixteenBytesOrZeroFilled) {
    RecordingFrontEnd front;
    PasswordBlock block{};
    const MacAddress target = {1, 2, 3, 4, 5, 6};
    front.GetCredentials(target, block);   // the default password
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.data()), 4), "4826");
    EXPECT_TRUE(std::all_of(block.begin() + 4, block.end(), [](std::uint8_t b) { return b == 0; }));
    front.SetPassword("abcdefghijklmnopqrst");
    front.GetCredentials(target, block);
    EXPECT_EQ(std::string(block.begin(), block.end()), "abcdefghijklmnop");
    EXPECT_EQ(front.TargetAddress(), target);
}

class FrontEndFiles : public ::testing::Test {
protected:
    void SetUp() override {
        folder = std::filesystem::temp_directory_path() / ("kelvane-gui-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        front.SetProgramFolder(folder.string());
        ASSERT_EQ(front.StartLink(), 1);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }
    std::string Read(const char* name) {
        front.ShutdownLink();
        std::ifstream in(folder / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    std::filesystem::path folder;
    RecordingFrontEnd front;
};

TEST_F(FrontEndFiles, TraceBlocksBeyondTheAnnouncedTotalAreNotWritten) {
    front.OnTraceLength(1500);
    const std::string block(1024, 't');
    front.OnTraceData(reinterpret_cast<const std::uint8_t*>(block.data()), 1024);
    front.OnTraceData(reinterpret_cast<const std::uint8_t*>(block.data()), 1024);
    EXPECT_EQ(Read("trace.txt"), block);
}

TEST_F(FrontEndFiles, ParamDumpNeedsFormatNumberTwo) {
    std::vector<std::uint8_t> image(kParamImageLen, 0x55);
    image[kParamFormatOffset] = 0;
    EXPECT_EQ(front.SaveParamDump(image.data()), 1);
    ASSERT_EQ(front.MessageBoxes().size(), 1u);
    EXPECT_EQ(front.MessageBoxes()[0], "The target's param is null or the param is invalid!");
    image[kParamFormatOffset] = kParamFormat;
    front.OnTraceLength(3);
    front.OnTraceData(reinterpret_cast<const std::uint8_t*>("abc"), 3);
    EXPECT_EQ(front.SaveParamDump(image.data()), 1);
    EXPECT_EQ(Read("trace.txt"), std::string(image.begin(), image.end())) << "written over from the start";
}

TEST_F(FrontEndFiles, AddressLinesEndInCrLf) {
    const std::uint8_t line[] = {'a', 0, 'v'};
    EXPECT_EQ(front.WriteAddressLine(line, 3), 1);
    EXPECT_EQ(Read("Target_Bt_Addr.txt"), std::string("a\0v\r\n", 5));
    EXPECT_EQ(front.WriteAddressLine(line, 3), 0) << "the file is closed";
}

// A parameter dump puts the login password into trace.txt, also one left by an older run.
TEST_F(FrontEndFiles, TraceIsReadableByItsOwnerOnly) {
    front.ShutdownLink();
    std::filesystem::permissions(folder / "trace.txt", std::filesystem::perms(0644));
    ASSERT_EQ(front.StartLink(), 1);
    EXPECT_EQ(std::filesystem::status(folder / "trace.txt").permissions(), std::filesystem::perms(0600));
    EXPECT_EQ(std::filesystem::status(folder / "Target_Bt_Addr.txt").permissions(), std::filesystem::perms(0600));
}

// The history's digest of a download file is not taken on the thread that asks for the
// download (the window's): a large file would freeze it. Asking reads nothing of the
// file there; the link reads it.
TEST_F(FrontEndFiles, AskingForADownloadReadsNothingOfTheFile) {
    const std::filesystem::path file = folder / "param.jdp";
    {
        std::ofstream out(file, std::ios::binary);
        out << std::string(64 * 1024, 'p');
    }
    const int watcher = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watcher, 0);
    ASSERT_GE(::inotify_add_watch(watcher, file.c_str(), IN_ACCESS), 0);
    EXPECT_EQ(front.StartDownload(5, file.string()), 2);   // no link: refused after the history began
    alignas(inotify_event) char events[4096];
    EXPECT_LT(::read(watcher, events, sizeof events), 0) << "the file was read by the asking thread";
    ::close(watcher);
}

TEST(FrontEndStart, FailsWhenTheFilesCannotBeCreated) {
    RecordingFrontEnd front;
    front.SetProgramFolder("/nonexistent/kelvane");
    EXPECT_EQ(front.StartLink(), 0);
}

// A link planted where trace.txt or Target_Bt_Addr.txt belongs would have the target's
// parameter dump written wherever it points: refused, the file it names untouched.
TEST_F(FrontEndFiles, ALinkWhereAFileBelongsIsRefusedAndNothingWrittenThroughIt) {
    for (const char* name : {"trace.txt", "Target_Bt_Addr.txt"}) {
        front.ShutdownLink();
        std::filesystem::remove(folder / "trace.txt");
        std::filesystem::remove(folder / "Target_Bt_Addr.txt");
        {
            std::ofstream victim(folder / "victim", std::ios::trunc);
            victim << "kept";
        }
        std::filesystem::create_symlink(folder / "victim", folder / name);
        EXPECT_EQ(front.StartLink(), 0) << name;
        front.OnTraceLength(3);
        front.OnTraceData(reinterpret_cast<const std::uint8_t*>("abc"), 3);
        const std::uint8_t line[] = {'a'};
        front.WriteAddressLine(line, 1);
        front.ShutdownLink();
        EXPECT_TRUE(std::filesystem::is_symlink(folder / name)) << name;
        std::ifstream in(folder / "victim");
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "kept") << name;
    }
}

TEST(FrontEndStart, WithoutAFolderTheLinkWorksAndNothingIsWritten) {
    RecordingFrontEnd front;
    front.SetProgramFolder("");
    EXPECT_EQ(front.StartLink(), 1);
    const std::uint8_t line[] = {'a'};
    EXPECT_EQ(front.WriteAddressLine(line, 1), 0);
    EXPECT_EQ(front.HistoryPath(), "");
}

}  // namespace
}  // namespace fdp::test

namespace fdp {
namespace {

// The pause after each acknowledged block is kept at its length (the target may rely on
// it), and the thread that paces wakes with the least timer slack: at the default 50 µs
// slack every pause woke late, and a 2 MB update's 1,976 pauses added up.
TEST(Pace, KeepsEachPauseAndWakesThePacingThreadWithoutSlack) {
    CRequestFrontEnd front;
    front.SetPaceMs(5);
    std::chrono::steady_clock::duration took{};
    unsigned long slack = 0;
    std::thread pacing([&] {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 20; ++i) front.Pace();
        took = std::chrono::steady_clock::now() - start;
        slack = static_cast<unsigned long>(::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0));
    });
    pacing.join();
    EXPECT_GE(took, std::chrono::milliseconds(20 * 5));
    EXPECT_EQ(slack, 1ul) << "the pacing thread's timer slack, in ns";
    // Only the thread that paces: the caller's own slack is the default.
    EXPECT_NE(::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), 1);
}

}  // namespace
}  // namespace fdp
