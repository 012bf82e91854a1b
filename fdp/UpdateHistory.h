// The update history: one JSON object per line in history.jsonl, one line per download
// to the target (firmware or parameters, from the wizard or kelvane-cli), so that a
// technician can tell later what went onto which target, from which file, and how it
// ended.
//
// Appending is one write(2) of the whole line on a descriptor opened with O_APPEND, under
// an exclusive advisory lock (flock) on the file, so that two programs appending at once
// never mix their lines, also where O_APPEND writes are not atomic (NFS). A line cut
// short (a crash, a full disk) is kept apart from the next one and reported as damaged
// when read; it never stops a later run from appending or reading.
//
// The file stays bounded on a production line that downloads for years: an append that
// would take it past the limit (4 MiB, some 8000 downloads) first moves it to
// history.jsonl.1, replacing the older one there, under the same lock. Reading covers
// both files, the older first.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fdp {

inline constexpr const char* kVersionUnread = "unread";

struct HistoryRecord {
    std::string time;            // UTC, ISO 8601: 2026-12-10T12:09:10Z
    std::string adapter;         // the interface the download went out on
    std::string target;          // the target's address, aa:bb:cc:dd:ee:ff
    std::string task;            // the wizard's task, or the command
    std::string kind;            // flash area: boot, program, param
    std::string file;            // the file's path as given
    std::uint64_t size = 0;
    std::string sha256;          // of a firmware file's bytes, lower-case hex; never for parameters
    std::string fields;          // a parameter download's changed fields, "name,password"; never values
    std::string fileVersion;     // a.b.c.d of a firmware file; empty for parameters
    std::string targetVersion;   // the target's version of that area before; empty if not read
    // After a burnt boot or program area, the version the target reports for it, or
    // kVersionUnread when it did not answer; empty (and not written) for anything else.
    std::string versionAfter;
    unsigned stageCode = 0;      // the stage that ended the download
    std::string stage;           // its text
    unsigned resultCode = 0;     // its result, 0 success
    std::string result;          // its text
    std::uint64_t durationMs = 0;

    bool operator==(const HistoryRecord&) const = default;
};

// One line of the file: a record, or nothing when the line is damaged.
struct HistoryLine {
    std::size_t number = 0;      // from 1 in its file; 0 when read from the end
    std::optional<HistoryRecord> record;
    bool older = false;          // the line is in history.jsonl.1
};

class CUpdateHistory {
public:
    static constexpr std::uint64_t kDefaultLimit = 4u << 20;

    // limit: the size in bytes past which the file is moved to Path() + ".1".
    explicit CUpdateHistory(std::string path, std::uint64_t limit = kDefaultLimit)
        : m_path(std::move(path)), m_limit(limit) {}

    // Appends the record as one line; false with a reason when it cannot be written.
    bool Append(const HistoryRecord& record, std::string& error) const;
    // Every line of both files, the older file first, damaged ones included; empty when
    // there is no file. Nothing is created.
    std::vector<HistoryLine> Read() const;
    // The last `count` lines (fewer when there are fewer), oldest first, read backwards
    // from the files' ends, so that only those lines are held. Their numbers are 0.
    std::vector<HistoryLine> ReadLast(std::size_t count) const;

    const std::string& Path() const { return m_path; }
    std::string OlderPath() const { return m_path + ".1"; }

    static std::string FormatLine(const HistoryRecord& record);   // JSON, no line end
    static std::optional<HistoryRecord> ParseLine(std::string_view line);
    // The current time as the records give it.
    static std::string UtcNow();

private:
    std::string m_path;
    std::uint64_t m_limit;
};

// history.jsonl in the folder where the program keeps kelvane.ini.
std::string HistoryFileIn(const std::string& folder);

// The lines as a table of aligned columns with a header, the last `last` lines only
// when last is not 0.
std::string FormatHistoryTable(const std::vector<HistoryLine>& lines, std::size_t last);

}  // namespace fdp
