// The update history file: lines that any JSON reader accepts, appends that never mix
// or lose lines, and damaged lines that never stop the next run.
#include <gtest/gtest.h>

#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <map>
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

// The version read back after a burn goes into the line and comes back; a line without
// it (a parameter download, an older line) has none.
TEST(UpdateHistoryTest, TheVersionAfterTheBurnSurvivesTheRoundTrip) {
    for (const std::string after : {"2.8.3.0", "unread", ""}) {
        HistoryRecord record = Sample();
        record.versionAfter = after;
        const std::string line = CUpdateHistory::FormatLine(record);
        if (after.empty()) {
            EXPECT_EQ(line.find("\"versionAfter\""), std::string::npos) << line;
        } else {
            EXPECT_NE(line.find("\"versionAfter\":\"" + after + "\""), std::string::npos) << line;
        }
        const auto back = CUpdateHistory::ParseLine(line);
        ASSERT_TRUE(back) << line;
        EXPECT_EQ(back->versionAfter, after);
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

// A production line appends for years: the file is moved aside before it passes its
// limit, one older file is kept, and the newest lines are always there to read.
TEST(UpdateHistoryTest, PastItsLimitTheFileMovesToDotOneAndOnlyOneOlderFileIsKept) {
    kelvane_test::ScratchDir dir;
    const std::uint64_t lineSize = CUpdateHistory::FormatLine(Sample("fw00.bin")).size() + 1;
    const std::uint64_t limit = 3 * lineSize;   // three lines to a file
    const CUpdateHistory history((dir / "history.jsonl").string(), limit);
    std::string error;
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(history.Append(Sample("fw0" + std::to_string(i) + ".bin"), error)) << error;
        EXPECT_LE(std::filesystem::file_size(dir / "history.jsonl"), limit) << "after append " << i;
    }
    EXPECT_EQ(std::filesystem::file_size(dir / "history.jsonl.1"), limit);
    EXPECT_FALSE(std::filesystem::exists(dir / "history.jsonl.2"));

    // Ten lines of three to a file: 9 went to .1 and replaced 6, 7, 8; 9 is alone.
    const auto lines = history.Read();
    std::vector<std::string> files;
    for (const auto& line : lines) {
        ASSERT_TRUE(line.record) << line.number;
        files.push_back(line.record->file);
    }
    EXPECT_EQ(files, (std::vector<std::string>{"fw06.bin", "fw07.bin", "fw08.bin", "fw09.bin"}));
    EXPECT_TRUE(lines.front().older);
    EXPECT_FALSE(lines.back().older);
    EXPECT_EQ(lines.back().number, 1u);   // numbered in its own file
}

// Writers that wait for the lock while another moves the file must append to the new
// file, not to the one moved away: the limit holds for both files and each writer's
// lines stay in the order it wrote them.
TEST(UpdateHistoryTest, ConcurrentAppendsAcrossAMoveKeepEveryFileWithinItsLimitAndInOrder) {
    kelvane_test::ScratchDir dir;
    const std::uint64_t limit = 8 * 1024;
    const std::uint64_t lineSize = CUpdateHistory::FormatLine(Sample("a0000")).size() + 1;
    constexpr int kEach = 300;
    auto writer = [&](std::string name) {
        const CUpdateHistory history((dir / "history.jsonl").string(), limit);
        std::string error;
        for (int i = 0; i < kEach; ++i) {
            char number[8];
            std::snprintf(number, sizeof number, "%04d", i);
            ASSERT_TRUE(history.Append(Sample(name + number), error)) << error;
            // Only a full file is ever moved, and nothing is added to it afterwards.
            std::error_code absent;
            const auto older = std::filesystem::file_size(dir / "history.jsonl.1", absent);
            if (!absent) {
                EXPECT_GT(older + lineSize, limit) << "a file moved before it was full";
                EXPECT_LE(older, limit);
            }
        }
    };
    std::thread a(writer, "a"), b(writer, "b"), c(writer, "c");
    a.join();
    b.join();
    c.join();
    for (const char* name : {"history.jsonl", "history.jsonl.1"})
        EXPECT_LE(std::filesystem::file_size(dir / name), limit) << name;
    std::map<char, std::string> lastOf;
    for (const auto& line : CUpdateHistory((dir / "history.jsonl").string(), limit).Read()) {
        ASSERT_TRUE(line.record) << "line " << line.number << (line.older ? " of .1" : "");
        const std::string& file = line.record->file;
        EXPECT_LT(lastOf[file[0]], file) << "out of order";
        lastOf[file[0]] = file;
    }
}

// The lock is what keeps lines whole where O_APPEND is not atomic: a writer waits while
// another holds it.
TEST(UpdateHistoryTest, AnAppendWaitsWhileAnotherWriterHoldsTheLock) {
    kelvane_test::ScratchDir dir;
    const CUpdateHistory history((dir / "history.jsonl").string());
    std::string error;
    ASSERT_TRUE(history.Append(Sample("first.bin"), error)) << error;
    const int held = ::open((dir / "history.jsonl").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    auto appended = std::async(std::launch::async, [&] {
        std::string failure;
        return history.Append(Sample("second.bin"), failure);
    });
    EXPECT_EQ(appended.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    EXPECT_EQ(history.Read().size(), 1u);
    ::flock(held, LOCK_UN);
    ::close(held);
    EXPECT_TRUE(appended.get());
    EXPECT_EQ(history.Read().size(), 2u);
}

// --last N reads from the end: the same lines as the whole file's last N, whatever the
// file's shape, across the move to .1 too.
TEST(UpdateHistoryTest, ReadingTheLastLinesFromTheEndGivesTheWholeFilesLastLines) {
    const std::string good = CUpdateHistory::FormatLine(Sample("x.bin"));
    const auto record = [](int i) { return CUpdateHistory::FormatLine(Sample("fw" + std::to_string(i) + ".bin")); };
    std::string many;
    for (int i = 0; i < 3000; ++i) many += record(i) + "\n";   // past several read blocks
    struct Case {
        const char* name;
        std::string older;     // history.jsonl.1, empty: none
        std::string current;
    };
    const Case cases[] = {
        {"empty", "", ""},
        {"one line", "", record(1) + "\n"},
        {"no last line end", "", record(1) + "\n" + record(2)},
        {"blank and CR lines", "", "\n" + record(1) + "\r\n\n\r\n" + record(2) + "\n\n"},
        {"damaged last line", "", record(1) + "\n" + good.substr(0, 30) + "\n"},
        {"a line longer than a read block", "", record(1) + "\n" + std::string(200000, 'x') + "\n" + record(2) + "\n"},
        {"a line longer than any record", "", record(1) + "\n" + std::string(3 << 20, 'x') + "\n" + record(2) + "\n"},
        {"many lines", "", many},
        {"across the move", record(1) + "\n" + record(2) + "\n" + record(3) + "\n", record(4) + "\n"},
        {"only the older file", many, ""},
    };
    for (const Case& c : cases) {
        kelvane_test::ScratchDir dir;
        const CUpdateHistory history((dir / "history.jsonl").string());
        if (!c.older.empty()) std::ofstream(dir / "history.jsonl.1", std::ios::binary) << c.older;
        std::ofstream(dir / "history.jsonl", std::ios::binary) << c.current;
        const auto all = history.Read();
        for (const std::size_t count : {1u, 2u, 3u, 5u, 2500u}) {
            const auto last = history.ReadLast(count);
            const std::size_t expected = std::min(count, all.size());
            ASSERT_EQ(last.size(), expected) << c.name << ", last " << count;
            for (std::size_t i = 0; i < expected; ++i) {
                const HistoryLine& whole = all[all.size() - expected + i];
                EXPECT_EQ(last[i].record.has_value(), whole.record.has_value()) << c.name << " " << i;
                if (whole.record && last[i].record) {
                    EXPECT_EQ(last[i].record->file, whole.record->file) << c.name;
                }
                EXPECT_EQ(last[i].older, whole.older) << c.name;
            }
        }
    }
}

}  // namespace
}  // namespace fdp
