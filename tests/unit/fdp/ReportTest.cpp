#include <gtest/gtest.h>

#include "fdp/LinkTexts.h"
#include "fdp/DownloadReport.h"
#include "fdp/RequestFrontEnd.h"
#include "fdp/FirmwareVersion.h"
#include "fdp/ReportFilter.h"

namespace fdp {
namespace {

// The report a stage number and its values name, as the link publishes it.
StageReport At(unsigned number, unsigned result = 0, std::uint32_t position = 0, std::uint32_t total = 0,
               std::string text = {}) {
    const std::optional<Stage> stage = Stage::FromNumber(number);
    EXPECT_TRUE(stage) << number;
    return StageReport{stage.value_or(Stage{}), result, position, total, std::move(text)};
}

TEST(ReportFilter, PostsRepeatedPairsOnceAndEveryTransferPosition) {
    CReportFilter filter;
    struct Step { unsigned stage, result; std::uint32_t position, total; bool posted; std::int32_t lParam; };
    const Step steps[] = {
        {21, 0, 0, 0, true, 0},
        {21, 0, 0, 0, false, 0},         // same pair again
        {62, 0, 5000, 4096, true, 4096}, // transfer positions are clamped to the total
        {62, 0, 5000, 4096, true, 4096}, // and never suppressed
        {21, 0, 0, 0, false, 0},         // a transfer report does not reset the suppression
        {22, 0, 0, 0, true, 0},
        {21, 0, 0, 0, true, 0},          // the same pair after another one
        {23, 3, 0, 0, true, 3},
    };
    for (const Step& s : steps) EXPECT_EQ(filter.Pass(At(s.stage, s.result, s.position, s.total)), s.posted) << s.stage;
}

// Two downloads that fail alike (62, then 63 with the same result), and a file missing
// twice (61, 10): the second run's failure is posted, so the page hears of it.
TEST(ReportFilter, ForgetLetsTheNextRunFailAgainAsTheLastOne) {
    CReportFilter filter;
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run);
        filter.Forget();
        EXPECT_TRUE(filter.Pass(At(62, 0, 0, 1000)));
        EXPECT_TRUE(filter.Pass(At(63, 1)));
        EXPECT_FALSE(filter.Pass(At(63, 1)));   // within one run a repeat is still dropped
    }
    for (int run = 0; run < 2; ++run) {
        filter.Forget();
        EXPECT_TRUE(filter.Pass(At(61, 10))) << run;
    }
}

TEST(DownloadReport, ABootUpdateReadsAsTheUserSeesIt) {
    CDownloadReport report;
    report.Begin();
    std::vector<std::string> lines;
    // A transfer report's value is its position (of 1000), any other's its result.
    const auto take = [&](unsigned stage, std::int32_t value, const char* status) {
        const auto n = static_cast<std::uint32_t>(value);
        const StageReport r = stage == 62 ? At(stage, 0, n, 1000, status) : At(stage, n, 0, 0, status);
        if (const auto line = report.OnReport(r)) lines.push_back(*line);
    };
    take(62, 0, "In transferring data...");
    take(62, 500, "In transferring data...");
    EXPECT_EQ(report.Bar(), 500);
    take(63, 0, "Transfer data to target successfully!");
    take(1, 0, "Start to erase boot area!");
    EXPECT_EQ(report.Bar(), 1000);
    EXPECT_EQ(report.state(), CDownloadReport::Erasing);
    take(2, 0, "In erasing boot area...");
    take(3, 0, "Erase boot area successfully!");
    take(11, 0, "Start to burn boot area!");
    EXPECT_EQ(report.Bar(), 1200);
    take(13, 0, "Burn boot area successfully!");
    EXPECT_EQ(report.Bar(), CDownloadReport::kBarMax);
    EXPECT_EQ(report.state(), CDownloadReport::Done);
    EXPECT_EQ(lines, (std::vector<std::string>{"In transferring data...", "Start to erase boot area!",
                                               "Start to burn boot area!", "Burn boot area successfully!"}));
}

// The start of erasing and of burning and the end of burning, for each of the boot,
// program and parameter areas: a line, the bar and the state (1 Erasing, 3 Burning,
// 4 Done).
TEST(DownloadReport, EachAreasEraseAndBurnStagesMoveBarAndState) {
    struct Case { unsigned stage; int bar; int state; };
    const Case cases[] = {
        {1, 1000, 1},  {21, 1000, 1}, {41, 1000, 1},
        {11, 1200, 3}, {31, 1200, 3}, {51, 1200, 3},
        {13, 1250, 4}, {33, 1250, 4}, {53, 1250, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stage);
        CDownloadReport report;
        report.Begin();
        EXPECT_TRUE(report.OnReport(At(62, 0, 300, 1000, "In transferring data...")));
        EXPECT_EQ(report.OnReport(At(c.stage, 0, 0, 0, "line")), std::optional<std::string>("line"));
        EXPECT_EQ(report.Bar(), c.bar);
        EXPECT_EQ(static_cast<int>(report.state()), c.state);
    }
}

// A parameter download (name and password, DHCP/NAT, register tasks) as the download
// page shows it: each report the link posts, the line it adds (the status text of
// its stage), where the bar stands after it and the page's state (0 Idle, 1 Erasing,
// 2 Transferring, 3 Burning, 4 Done). The lines and values are the page's, as the
// user reads them; the reports pass the window's filter first, as they do there.
TEST(DownloadReport, AParameterDownloadReadsAsTheUserSeesIt) {
    struct Step {
        unsigned stage, result;
        std::uint32_t position;
        const char* line;   // null: none added
        int bar;
        int state;
    };
    const Step steps[] = {
        {62, 0, 0, "In transferring data...", 0, 2},
        {62, 0, 1000, nullptr, 1000, 2},   // one 8192-byte file: 8 blocks, the last at 1000
        {63, 0, 0, nullptr, 1000, 2},
        {41, 0, 0, "Start to erase parameter area!", 1000, 1},
        {42, 0, 0, nullptr, 1000, 1},
        {43, 0, 0, nullptr, 1000, 1},
        {51, 0, 0, "Start to burn parameter area!", 1200, 3},
        {52, 0, 0, nullptr, 1200, 3},
        {53, 0, 0, "Burn parameter area successfully!", 1250, 4},
    };
    CReportFilter filter;
    CDownloadReport report;
    report.Begin();
    for (const Step& s : steps) {
        SCOPED_TRACE(s.stage);
        StageReport r = At(s.stage, s.result, s.position, 1000);
        r.text = ReportStatusText(r.stage, s.result);
        ASSERT_TRUE(filter.Pass(r));
        const auto line = report.OnReport(r);
        EXPECT_EQ(line.value_or("(none)"), s.line ? s.line : "(none)");
        EXPECT_EQ(report.Bar(), s.bar);
        EXPECT_EQ(static_cast<int>(report.state()), s.state);
    }
    // The next download opens with its status line again.
    report.Begin();
    EXPECT_EQ(report.OnReport(At(62, 0, 0, 1000, "In transferring data...")),
              std::optional<std::string>("In transferring data..."));
}

// A step of a parameter download that fails: the stopped line, the page back to Idle
// with its bar where it stood, and the next transfer opens with its line again.
TEST(DownloadReport, AFailedParameterStepStopsWithTheStoppedLine) {
    const std::string stopped = "Downlaod progress has been stopped, pleas click \"next\" to try again!";
    for (const unsigned stage : {43u, 53u}) {
        SCOPED_TRACE(stage);
        CDownloadReport report;
        report.Begin();
        // Each report with the status text the front end gives it.
        const auto take = [&report](StageReport r) {
            r.text = ReportStatusText(r.stage, r.result);
            return report.OnReport(r);
        };
        take(At(62, 0, 1000, 1000));
        take(At(41));
        if (stage == 53) take(At(51));
        EXPECT_EQ(take(At(stage, 3)), std::optional<std::string>(stopped));
        EXPECT_EQ(static_cast<int>(report.state()), 0);
        EXPECT_EQ(report.Bar(), stage == 43 ? 1000 : 1200);
        EXPECT_TRUE(take(At(62, 0, 0, 1000)).has_value());
    }
}

TEST(DownloadReport, AFailedStepAddsTheStoppedLineAndGoesIdle) {
    CDownloadReport report;
    report.Begin();
    const char* stopped = "Downlaod progress has been stopped, pleas click \"next\" to try again!";
    EXPECT_TRUE(report.OnReport(At(62, 0, 0, 1000, "In transferring data...")));
    EXPECT_EQ(report.OnReport(At(63, 3, 0, 0, stopped)), std::optional<std::string>(stopped));
    EXPECT_EQ(report.state(), CDownloadReport::Idle);
}

// A download whose first block cannot be read (the file made unreadable after it was
// opened): the transfer's line is the failure's, the stopped text with the file error,
// not the transfer's own words; a target's failure there says no file error.
TEST(DownloadReport, AFirstBlockThatCannotBeReadPutsTheFileErrorOnTheTransferLine) {
    const std::string stopped = "Downlaod progress has been stopped, pleas click \"next\" to try again!";
    const struct {
        const char* name;
        unsigned result;
        std::string line;
    } cases[] = {
        {"file error", 10, stopped + " file operation failed!"},
        {"time-out", 3, stopped},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CDownloadReport report;
        report.Begin();
        StageReport r = At(62, c.result, 0, 1000);
        r.text = ReportStatusText(r.stage, r.result);
        EXPECT_EQ(report.OnReport(r), std::optional<std::string>(c.line));
    }
}

TEST(FirmwareVersion, TextAndValueUseLowNibbles) {
    const std::uint8_t word[4] = {0x04, 0x03, 0x02, 0x01};
    EXPECT_EQ(FirmwareVersion::FromLe(word).Text(), "1.2.3.4");
    EXPECT_EQ((FirmwareVersion{0xF1, 0x1A, 0, 0}).Text(), "1.10.0.0");
    EXPECT_EQ((FirmwareVersion{1, 10, 0, 0}).Value(), (FirmwareVersion{2, 0, 0, 0}).Value());
    EXPECT_EQ((FirmwareVersion{0xFF, 0xFF, 0xFF, 0xFF}).Value(), 16665);
    // A version request's block still holding its selector had no answer.
    const std::uint8_t unanswered[4] = {13, 0, 0, 0}, answered[4] = {13, 0, 0, 1};
    EXPECT_EQ(FirmwareVersion::FromAnswer(unanswered, 13).Value(), 0);
    EXPECT_EQ(FirmwareVersion::FromAnswer(answered, 13).Text(), "1.0.0.13");
    EXPECT_EQ(FirmwareVersion::FromAnswer(unanswered, 14).Text(), "0.0.0.13");
}

}  // namespace
}  // namespace fdp
