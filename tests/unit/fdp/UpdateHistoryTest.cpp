// The update history file: lines that any JSON reader accepts, appends that never mix
// or lose lines, and damaged lines that never stop the next run.
#include <gtest/gtest.h>

#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <map>
#include <vector>
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
        // Shaped like UTF-8 but no UTF-8 either: strict readers refuse them.
        {"overlong slash", std::string("a\xc0\xaf"), "\"a\xEF\xBF\xBD\xEF\xBF\xBD\"", "a\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"encoded surrogate", std::string("\xed\xa0\x80"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"",
         "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"past U+10FFFF", std::string("\xf4\x90\x80\x80"),
         "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"",
         "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
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
        good + std::string("\0\0x", 3),             // after a NUL too (a block of zeros a crash left)
        std::string("{\"time\":\"t\0\"}", 13),    // a raw NUL, which JSON never holds
        "{\"adapter\":\"kv0\"}",                   // no time
        "{\"time\":5}",                            // a time that is no text
        "{\"time\":\"t\",\"size\":-1}",            // not a count
        "{\"time\":\"t\",\"size\":1.5}",
        "{\"time\":\"t\",\"size\":99999999999999999999999}",   // too large a count
        "{\"time\":\"t\",\"size\":18446744073709551616}",      // one past the largest
        "{\"time\":\"t\",\"retries\":true}",       // values no line holds, even in unknown members
        "{\"time\":\"t\",\"operator\":null}",
        "{\"time\":\"t\",\"targets\":[\"a\"]}",
        "{\"time\":\"t\",\"more\":{\"a\":\"b\"}}",
        "{\"time\":\"\\ud800\"}",                  // half a surrogate pair
        "{\"time\":\"a\tb\"}",                     // a control character not escaped
        "{\"time\":\"t\\q\"}",                     // no such escape
        "{\"time\":\"t\",\"size\":007}",           // JSON has no leading zeros
        "{\"time\":\"t\"}{}",
        std::string(100000, '[') + std::string(100000, ']'),   // deep, and no object
        "[1,2]", "", std::string("\x00\x01", 2), "null",
    };
    for (const auto& line : damaged) EXPECT_FALSE(CUpdateHistory::ParseLine(line)) << line.substr(0, 80);
    // Fields of a later version are skipped, not taken as damage.
    EXPECT_TRUE(CUpdateHistory::ParseLine("{\"time\":\"t\",\"operator\":\"li\",\"retries\":2}"));
}

// Lines as the version before this one wrote them, taken from history.jsonl after
// kelvane-cli ran against the simulator: a burn (a Chinese name with quotes), a burn
// read back, a parameter download, a file name with a control character, a byte that is
// no UTF-8 and an overlong form that writer let through, and a download that timed out.
// Each still reads into the same record and, but for the bytes that were no UTF-8, is
// written again byte for byte.
TEST(UpdateHistoryTest, LinesWrittenByThePreviousVersionStillRead) {
    struct Case {
        const char* name;
        std::string line;
        std::vector<std::pair<std::string, std::string>> texts;   // member, value read
        std::uint64_t size, durationMs;
        unsigned stageCode, resultCode;
        bool writtenAgainAsItWas;
    };
    const Case cases[] = {
        {"program",
         R"({"time":"2026-12-10T20:17:12Z","adapter":"kv0","target":"02:4b:56:00:00:02","task":"kelvane-cli download",)"
         R"("kind":"program","file":"/tmp/jsonrun/固件 \"v2\".bin","size":65536,)"
         R"("sha256":"9bafead989ef23c523ff0ec94346737bbf84d5bf689fd4779e196a4d8255bb13","fileVersion":"2.8.3.2",)"
         R"("targetVersion":"2.0.0.0","versionAfter":"2.8.3.2","stageCode":33,"stage":"Burn program area",)"
         R"("resultCode":0,"result":"successfully!","durationMs":25})",
         {{"time", "2026-12-10T20:17:12Z"}, {"adapter", "kv0"}, {"target", "02:4b:56:00:00:02"},
          {"task", "kelvane-cli download"}, {"kind", "program"}, {"file", "/tmp/jsonrun/固件 \"v2\".bin"},
          {"sha256", "9bafead989ef23c523ff0ec94346737bbf84d5bf689fd4779e196a4d8255bb13"}, {"fields", ""},
          {"fileVersion", "2.8.3.2"}, {"targetVersion", "2.0.0.0"}, {"versionAfter", "2.8.3.2"},
          {"stage", "Burn program area"}, {"result", "successfully!"}},
         65536, 25, 33, 0, true},
        {"parameters",
         R"({"time":"2026-12-10T20:22:25Z","adapter":"kv0","target":"02:4b:56:00:00:02",)"
         R"("task":"kelvane-cli set-name-password","kind":"param","file":"/tmp/jsonrun/param.jdp.Uc98L5","size":8192,)"
         R"("fields":"name,password","fileVersion":"","targetVersion":"","stageCode":53,"stage":"Burn parameter area",)"
         R"("resultCode":0,"result":"successfully!","durationMs":110})",
         {{"task", "kelvane-cli set-name-password"}, {"kind", "param"}, {"file", "/tmp/jsonrun/param.jdp.Uc98L5"},
          {"sha256", ""}, {"fields", "name,password"}, {"fileVersion", ""}, {"targetVersion", ""},
          {"versionAfter", ""}, {"stage", "Burn parameter area"}},
         8192, 110, 53, 0, true},
        {"odd file name",
         R"({"time":"2026-12-10T20:22:39Z","adapter":"kv0","target":"02:4b:56:00:00:02","task":"kelvane-cli download",)"
         R"("kind":"program","file":"/tmp/jsonrun/odd\u0001\tname)" "\xEF\xBF\xBD\xC0\xAF" R"(.bin","size":65536,)"
         R"("sha256":"4ef0fdfd71b54464638bb1e4a21582cf5438a0d8fae73e3c402b8caae6f70d74","fileVersion":"2.8.3.3",)"
         R"("targetVersion":"2.8.3.2","versionAfter":"2.8.3.3","stageCode":33,"stage":"Burn program area",)"
         R"("resultCode":0,"result":"successfully!","durationMs":440})",
         {{"file", "/tmp/jsonrun/odd\x01\tname\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD.bin"},
          {"sha256", "4ef0fdfd71b54464638bb1e4a21582cf5438a0d8fae73e3c402b8caae6f70d74"}},
         65536, 440, 33, 0, false},
        {"timed out",
         R"({"time":"2026-12-10T20:22:48Z","adapter":"kv0","target":"02:4b:56:00:00:02","task":"kelvane-cli download",)"
         R"("kind":"boot","file":"/tmp/jsonrun/boot.bin","size":16384,)"
         R"("sha256":"d8d9c299e8669ea27c172ef1c6111cfe8a2da6a40fe173ac5217120955483a3f","fileVersion":"1.2.0.4",)"
         R"("targetVersion":"1.2.0.4","stageCode":63,"stage":"Transfer data to target","resultCode":3,)"
         R"("result":"time out!","durationMs":6223})",
         {{"kind", "boot"}, {"fileVersion", "1.2.0.4"}, {"targetVersion", "1.2.0.4"}, {"versionAfter", ""},
          {"stage", "Transfer data to target"}, {"result", "time out!"}},
         16384, 6223, 63, 3, true},
    };
    for (const Case& c : cases) {
        const auto record = CUpdateHistory::ParseLine(c.line);
        ASSERT_TRUE(record) << c.name;
        const std::map<std::string, const std::string*> texts = {
            {"time", &record->time}, {"adapter", &record->adapter}, {"target", &record->target},
            {"task", &record->task}, {"kind", &record->kind}, {"file", &record->file},
            {"sha256", &record->sha256}, {"fields", &record->fields}, {"fileVersion", &record->fileVersion},
            {"targetVersion", &record->targetVersion}, {"versionAfter", &record->versionAfter},
            {"stage", &record->stage}, {"result", &record->result}};
        for (const auto& [member, value] : c.texts) EXPECT_EQ(*texts.at(member), value) << c.name << ": " << member;
        EXPECT_EQ(record->size, c.size) << c.name;
        EXPECT_EQ(record->durationMs, c.durationMs) << c.name;
        EXPECT_EQ(record->stageCode, c.stageCode) << c.name;
        EXPECT_EQ(record->resultCode, c.resultCode) << c.name;
        if (c.writtenAgainAsItWas) {
            EXPECT_EQ(CUpdateHistory::FormatLine(*record), c.line) << c.name;
        }
    }
}

// Lines no version wrote but an editor or a script may have: whatever JSON allows reads
// as the same text, and a member of the other kind keeps its default.
TEST(UpdateHistoryTest, OddButWholeLinesRead) {
    const auto withFile = [](const std::string& file) { return "{\"time\":\"t\",\"file\":" + file + "}"; };
    const struct {
        const char* name;
        std::string line;
        std::string file;
        std::uint64_t size = 0;
        unsigned stageCode = 0;
    } cases[] = {
        {"escaped quote and backslash", withFile(R"("a\"b\\c")"), "a\"b\\c"},
        {"every short escape", withFile(R"("\/\b\f\n\r\t")"), "/\b\f\n\r\t"},
        {"control characters as \\u", withFile(R"("\u0000\u0001\u001f\u007f")"), std::string("\0\x01\x1f\x7f", 4)},
        {"\\u escapes and a surrogate pair", withFile(R"("\u56fa\u4EF6 \ud83d\ude00")"), "固件 \xF0\x9F\x98\x80"},
        {"a byte that is no UTF-8", withFile("\"a\xff" "b\""), "a\xEF\xBF\xBD" "b"},
        {"a sequence cut short", withFile("\"\xe5\x9b\""), "\xEF\xBF\xBD"},
        {"a count where text belongs", withFile("12"), ""},
        {"text where a count belongs", R"({"time":"t","size":"12"})", "", 0},
        {"the largest count", R"({"time":"t","size":18446744073709551615})", "", 18446744073709551615u},
        {"a code past 32 bits", R"({"time":"t","stageCode":4294967296})", "", 0, 4294967295u},
        {"spaces, and a CR left by an editor", " { \"time\" : \"t\" , \"file\" : \"f\" }\r", "f"},
        {"a member twice: the last counts", R"({"time":"t","file":"a","file":"b"})", "b"},
    };
    for (const auto& c : cases) {
        const auto record = CUpdateHistory::ParseLine(c.line);
        ASSERT_TRUE(record) << c.name;
        EXPECT_EQ(record->time, "t") << c.name;
        EXPECT_EQ(record->file, c.file) << c.name;
        EXPECT_EQ(record->size, c.size) << c.name;
        EXPECT_EQ(record->stageCode, c.stageCode) << c.name;
    }
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

// A history line says what a file or a target was called; shown raw, an escape sequence
// in such a name would act on the technician's terminal.
TEST(UpdateHistoryTest, TableShowsControlCharactersInNamesAsEscapes) {
    HistoryRecord r = Sample("a\x1b]0;owned\x07" "b.bin");
    r.target = "NAP\xc2\x9b" "2J";
    r.result = "line\nbreak\x7f";
    r.stage.clear();
    const std::string table = FormatHistoryTable({{1, r}}, 0);
    EXPECT_NE(table.find("a\\x1b]0;owned\\x07b.bin"), std::string::npos) << table;
    EXPECT_NE(table.find("NAP\\x9b2J"), std::string::npos) << table;
    EXPECT_NE(table.find("line\\x0abreak\\x7f"), std::string::npos) << table;
    for (const unsigned char c : table) EXPECT_TRUE(c == '\n' || (c >= 0x20 && c != 0x7F)) << int{c};
    EXPECT_EQ(table.find("\xc2\x9b"), std::string::npos);
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 2);   // the header and one row
}

}  // namespace
}  // namespace fdp
