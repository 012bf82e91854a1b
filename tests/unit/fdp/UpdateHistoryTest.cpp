// The update history file: lines that any JSON reader accepts, appends that never mix
// or lose lines, and damaged lines that never stop the next run.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <thread>

#include "fdp/UpdateHistory.h"
#include "tests/unit/param/ScratchDir.h"

namespace fdp {
namespace {

HistoryRecord Sample(std::string file = "/srv/fw/nap 2.8.bin") {
    HistoryRecord r;
    r.time = "2026-12-10T12:09:10Z";
    r.adapter = "enx0050b6";
    r.target = "02:4b:56:00:00:02";
    r.task = "firmware";
    r.kind = "program";
    r.file = std::move(file);
    r.size = 131072;
    r.sha256 = "c7ee33bc39e4df4e6c6740fa4725968649c9b6455befec58349171912ce6c3e2";
    r.fileVersion = "2.8.3.0";
    r.targetVersion = "2.7.0.1";
    r.stageCode = 33;
    r.stage = "Burn program area";
    r.resultCode = 0;
    r.result = "successfully!";
    r.durationMs = 5210;
    return r;
}

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(UpdateHistoryTest, FileNamesOfAnyBytesSurviveTheRoundTripAsValidJson) {
    struct Case {
        const char* name;
        std::string file;
        std::string line;   // how the file name is written
        std::string read;   // what comes back
    };
    const Case cases[] = {
        {"plain", "/fw/a.bin", "\"/fw/a.bin\"", "/fw/a.bin"},
        {"quote and backslash", "a\"b\\c", "\"a\\\"b\\\\c\"", "a\"b\\c"},
        {"line end and tab", "a\nb\tc", "\"a\\nb\\tc\"", "a\nb\tc"},
        {"chinese", "固件.bin", "\"固件.bin\"", "固件.bin"},
        // Not UTF-8: written as U+FFFD, so that the line stays valid JSON.
        {"stray bytes", std::string("a\xff\xc3"), "\"a\xEF\xBF\xBD\xEF\xBF\xBD\"", "a\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const Case& c : cases) {
        const std::string line = CUpdateHistory::FormatLine(Sample(c.file));
        EXPECT_NE(line.find("\"file\":" + c.line + ","), std::string::npos) << c.name << ": " << line;
        EXPECT_EQ(line.find('\n'), std::string::npos) << c.name;
        const auto back = CUpdateHistory::ParseLine(line);
        ASSERT_TRUE(back) << c.name << ": " << line;
        EXPECT_EQ(back->file, c.read) << c.name;
        EXPECT_EQ(back->sha256, Sample().sha256) << c.name;
        EXPECT_EQ(back->size, 131072u) << c.name;
        EXPECT_EQ(back->stageCode, 33u) << c.name;
        EXPECT_EQ(back->durationMs, 5210u) << c.name;
    }
}

TEST(UpdateHistoryTest, DamagedLinesAreRecognised) {
    const std::string good = CUpdateHistory::FormatLine(Sample());
    const std::string damaged[] = {
        good.substr(0, good.size() / 2),           // cut short
        good.substr(0, good.size() - 1),           // the closing brace lost
        good + "x",                                // trailing rubbish
        "{\"adapter\":\"kv0\"}",                   // no time
        "{\"time\":\"t\",\"size\":-1}",            // not a count
        "{\"time\":\"t\",\"size\":99999999999999999999999}",   // too large a count
        "{\"time\":\"\\ud800\"}",                  // half a surrogate pair
        "[1,2]", "", "\x00\x01",
    };
    for (const auto& line : damaged) EXPECT_FALSE(CUpdateHistory::ParseLine(line)) << line;
    // Fields of a later version are skipped, not taken as damage.
    EXPECT_TRUE(CUpdateHistory::ParseLine("{\"time\":\"t\",\"operator\":\"li\",\"retries\":2}"));
}

TEST(UpdateHistoryTest, ATruncatedLastLineLeavesTheNextRunsLineReadable) {
    kelvane_test::ScratchDir dir;
    const CUpdateHistory history((dir / "history.jsonl").string());
    std::string error;
    ASSERT_TRUE(history.Append(Sample("first.bin"), error)) << error;
    const std::string whole = ReadAll(history.Path());
    {
        // A crash in the middle of a write leaves half a line without its line end.
        std::ofstream out(history.Path(), std::ios::binary | std::ios::app);
        out << CUpdateHistory::FormatLine(Sample("cut.bin")).substr(0, 40);
    }
    ASSERT_TRUE(history.Append(Sample("next.bin"), error)) << error;

    const auto lines = history.Read();
    ASSERT_EQ(lines.size(), 3u) << ReadAll(history.Path());
    EXPECT_EQ(lines[0].record->file, "first.bin");
    EXPECT_FALSE(lines[1].record);
    EXPECT_EQ(lines[1].number, 2u);
    ASSERT_TRUE(lines[2].record);
    EXPECT_EQ(lines[2].record->file, "next.bin");
    EXPECT_EQ(ReadAll(history.Path()).substr(0, whole.size()), whole);   // nothing before was touched

    const std::string table = FormatHistoryTable(lines, 0);
    EXPECT_NE(table.find("(line 2 is damaged)"), std::string::npos) << table;
    EXPECT_NE(table.find("next.bin"), std::string::npos) << table;
}

TEST(UpdateHistoryTest, ConcurrentAppendsNeverMixTheirLines) {
    kelvane_test::ScratchDir dir;
    const CUpdateHistory history((dir / "history.jsonl").string());
    constexpr int kEach = 200;
    auto writer = [&](const char* name) {
        std::string error;
        for (int i = 0; i < kEach; ++i) ASSERT_TRUE(history.Append(Sample(name + std::to_string(i)), error)) << error;
    };
    std::thread a(writer, "a"), b(writer, "b");
    a.join();
    b.join();
    const auto lines = history.Read();
    ASSERT_EQ(lines.size(), 2u * kEach);
    for (const auto& line : lines) EXPECT_TRUE(line.record) << "line " << line.number;
}

TEST(UpdateHistoryTest, AFolderThatCannotBeWrittenIsReportedNotThrown) {
    kelvane_test::ScratchDir dir;
    const CUpdateHistory history((dir / "absent" / "history.jsonl").string());
    std::string error;
    EXPECT_FALSE(history.Append(Sample(), error));
    EXPECT_NE(error.find("absent"), std::string::npos) << error;
    EXPECT_TRUE(history.Read().empty());
}

TEST(UpdateHistoryTest, TableShowsTheLastLinesAlignedUnderTheirHeader) {
    std::vector<HistoryLine> lines;
    for (std::size_t i = 1; i <= 4; ++i) {
        HistoryRecord r = Sample("fw" + std::to_string(i) + ".bin");
        if (i == 4) {
            r.file = "固件.bin";
            r.stageCode = 63;
            r.stage = "Transfer data ";
            r.resultCode = 3;
            r.result = "time out!";
            r.fileVersion.clear();
        }
        lines.push_back({i, r});
    }
    const std::string table = FormatHistoryTable(lines, 2);
    std::vector<std::string> rows;
    for (std::size_t at = 0, end; (end = table.find('\n', at)) != std::string::npos; at = end + 1)
        rows.push_back(table.substr(at, end - at));
    ASSERT_EQ(rows.size(), 3u) << table;
    EXPECT_EQ(rows[0].find("time (UTC)"), 0u);
    EXPECT_EQ(table.find("fw2.bin"), std::string::npos) << table;
    EXPECT_NE(rows[1].find("fw3.bin"), std::string::npos);
    EXPECT_NE(rows[1].find("Burn program area: successfully!"), std::string::npos) << rows[1];
    EXPECT_NE(rows[2].find("Transfer data: time out!"), std::string::npos) << rows[2];
    EXPECT_NE(rows[1].find("c7ee33bc39e4 "), std::string::npos);
    // The size column starts at the same character in every row, Chinese names or not.
    const auto column = [](const std::string& row, const std::string& text) {
        const auto at = row.find(text);
        std::size_t characters = 0;
        for (std::size_t i = 0; i < at; ++i)
            if ((static_cast<unsigned char>(row[i]) & 0xC0) != 0x80) ++characters;
        return characters;
    };
    EXPECT_EQ(column(rows[0], "size"), column(rows[1], "131072"));
    EXPECT_EQ(column(rows[1], "131072"), column(rows[2], "131072"));
}

}  // namespace
}  // namespace fdp
