// The production line's words: a target's own name or file from %a/%s, and the table
// that is redrawn in place, which must never wrap (a wrapped line scrolls the table).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "resources/strings/StringTable.h"
#include "tools/cli/LineBoard.h"
#include "tools/cli/TargetWords.h"

namespace {

using cli::LineRow;

TEST(TargetWordsTest, EachTargetGetsItsOwnWords) {
    const fdp::MacAddress unit{0x02, 0x4b, 0x56, 0x00, 0x01, 0x0a};
    struct Case {
        const char* word;
        const char* expected;
    };
    const Case cases[] = {
        {"NAP-%s", "NAP-00010a"},
        {"saved/%a.jdp", "saved/024b5600010a.jdp"},
        {"%a-%s", "024b5600010a-00010a"},
        {"100%%", "100%"},
        {"p%d%", "p%d%"},          // any other % stays: a password may hold one
        {"%", "%"},
        {"", ""},
        {"%%s", "%s"},
    };
    for (const Case& c : cases) EXPECT_EQ(cli::ExpandTargetWord(c.word, unit), c.expected) << c.word;
}

LineRow Row(LineRow::State state, std::string target, std::string result = {}, int percent = -1) {
    LineRow row;
    row.target = std::move(target);
    row.adapter = "kv0";
    row.state = state;
    row.stage = "transfer";
    row.percent = percent;
    row.result = std::move(result);
    return row;
}

class LineBoardTest : public ::testing::Test {
protected:
    void SetUp() override { res::SetLanguage(res::Language::English); }
};

TEST_F(LineBoardTest, ALineNeverReachesTheTerminalsLastColumn) {
    const std::string longResult(300, 'x');
    const std::string chinese = "烧写程序区成功！烧写程序区成功！烧写程序区成功！烧写程序区成功！烧写程序区成功！";
    for (const unsigned columns : {20u, 60u, 80u, 132u}) {
        for (const std::string& result : {longResult, chinese}) {
            const std::string line =
                cli::CLineBoard::TableLine(Row(LineRow::State::Running, "02:4b:56:00:01:01", result, 40), columns);
            // Columns taken: a Chinese character two.
            unsigned width = 0;
            for (std::size_t i = 0; i < line.size();) {
                const unsigned char lead = static_cast<unsigned char>(line[i]);
                const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
                ASSERT_LE(i + length, line.size()) << "a character cut in two at " << columns;
                width += length >= 3 ? 2 : 1;
                i += length;
            }
            EXPECT_LT(width, columns) << line;
        }
    }
}

TEST_F(LineBoardTest, ARowShowsStageBarPercentAndResult) {
    const std::string line =
        cli::CLineBoard::TableLine(Row(LineRow::State::Running, "02:4b:56:00:01:01", "In transferring data...", 50), 200);
    EXPECT_NE(line.find("02:4b:56:00:01:01"), std::string::npos);
    EXPECT_NE(line.find("kv0"), std::string::npos);
    EXPECT_NE(line.find("transfer"), std::string::npos);
    EXPECT_NE(line.find("[######......]"), std::string::npos) << line;
    EXPECT_NE(line.find("50%"), std::string::npos);
    EXPECT_NE(line.find("In transferring data..."), std::string::npos);
    // Ended, the row says how, not the stage it was in.
    const std::string failed = cli::CLineBoard::TableLine(Row(LineRow::State::Failed, "02:4b:56:00:01:02", "x", 96), 200);
    EXPECT_NE(failed.find("failed"), std::string::npos);
    EXPECT_EQ(failed.find("transfer"), std::string::npos);
}

TEST_F(LineBoardTest, TheSummaryCountsSkippedAsDoneAndNamesTheFailed) {
    const std::vector<LineRow> rows = {
        Row(LineRow::State::Done, "02:4b:56:00:01:01"),    Row(LineRow::State::Skipped, "02:4b:56:00:01:02"),
        Row(LineRow::State::Failed, "02:4b:56:00:01:03"),  Row(LineRow::State::Running, "02:4b:56:00:01:04"),
        Row(LineRow::State::Waiting, "02:4b:56:00:01:05"), Row(LineRow::State::Failed, "02:4b:56:00:01:06"),
    };
    EXPECT_EQ(cli::CLineBoard::SummaryLine(rows),
              "done 2, failed 2 (02:4b:56:00:01:03, 02:4b:56:00:01:06), running 1, waiting 1");
}

// Drawn again, the table goes back over its own lines and clears each before writing it:
// the terminal shows one line per target, never the drawings one under another.
TEST_F(LineBoardTest, ADrawingGoesBackOverTheLast) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    const int fd = ::fileno(file);
    cli::CLineBoard board;
    std::vector<LineRow> rows = {Row(LineRow::State::Running, "02:4b:56:00:01:01", "a", 10)};
    board.Draw(fd, rows, 80);
    rows.push_back(Row(LineRow::State::Waiting, "02:4b:56:00:01:02"));
    board.Draw(fd, rows, 80);
    board.Draw(fd, rows, 80);
    std::string text(4096, '\0');
    text.resize(static_cast<std::size_t>(::pread(fd, text.data(), text.size(), 0)));
    std::fclose(file);
    // First: no way back; then up over the 2 lines drawn, then over 3.
    const auto first = text.find("\r\x1b[");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(text.compare(first, 5, "\r\x1b[2A"), 0) << "the first drawing had a row and the summary";
    const auto second = text.find("\r\x1b[", first + 1);
    ASSERT_NE(second, std::string::npos);
    EXPECT_EQ(text.compare(second, 5, "\r\x1b[3A"), 0);
    // Every line is cleared before it is written: no tail of a longer old line stays.
    std::size_t lines = 0, cleared = 0;
    for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; ++at) ++lines;
    for (std::size_t at = 0; (at = text.find("\x1b[2K", at)) != std::string::npos; ++at) ++cleared;
    EXPECT_EQ(lines, 2u + 3u + 3u);
    EXPECT_EQ(cleared, lines);
}

}  // namespace
