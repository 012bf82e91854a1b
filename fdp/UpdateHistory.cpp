#include "fdp/UpdateHistory.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "fdp/HistoryRecordJson.h"
#include "fdp/JsonLine.h"
#include "fdp/PrivateFile.h"
#include "fdp/Utf8.h"

namespace fdp {

namespace {

std::string ShortHash(const std::string& sha) { return sha.substr(0, 12); }

std::string Duration(std::uint64_t ms) {
    if (ms < 10000) return std::to_string(ms) + " ms";
    return std::to_string(ms / 1000) + " s";
}

// Opens the file for appending and takes its lock. A writer that moved the file to .1
// while we waited for the lock leaves us a descriptor of the older file: the name is then
// opened again. A file system without locks keeps the single write as the only guard
// rather than lose the record.
int OpenLocked(const std::string& path, std::string& error) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        // 0600 from its creation and never through a symbolic link.
        CPrivateFile file = CPrivateFile::Open(path, CPrivateFile::Mode::Append);
        if (!file.IsOpen()) {
            error = file.Error();
            return -1;
        }
        const int fd = file.Release();
        int locked;
        do {
            locked = ::flock(fd, LOCK_EX);
        } while (locked != 0 && errno == EINTR);
        if (locked != 0) return fd;
        struct stat opened {}, named {};
        if (::fstat(fd, &opened) == 0 && ::stat(path.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
            opened.st_ino == named.st_ino)
            return fd;
        ::close(fd);
    }
    error = "Cannot open " + path + ": it keeps being replaced";
    return -1;
}

// The last `count` non-empty lines of a file, newest first, read backwards in blocks so
// that only those lines are held. A line too long for any record is given as empty,
// which reads as damaged, without keeping its bytes.
std::vector<std::string> LastLines(const std::string& path, std::size_t count) {
    constexpr std::size_t kBlock = 64 * 1024;
    constexpr std::size_t kLongestLine = 1024 * 1024;
    std::vector<std::string> lines;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return lines;
    struct stat info {};
    off_t end = ::fstat(fd, &info) == 0 ? info.st_size : 0;
    std::string line;        // the line being gathered, its end first read
    bool tooLong = false;
    const auto finish = [&] {
        if (tooLong) lines.emplace_back();
        else if (!line.empty() && line != "\r") lines.push_back(std::move(line));
        line.clear();
        tooLong = false;
    };
    std::vector<char> block(kBlock);
    while (end > 0 && lines.size() < count) {
        const off_t start = end > static_cast<off_t>(kBlock) ? end - static_cast<off_t>(kBlock) : 0;
        const auto size = static_cast<std::size_t>(end - start);
        if (::pread(fd, block.data(), size, start) != static_cast<ssize_t>(size)) break;
        std::size_t to = size;   // the part of the block after the newline found last
        for (std::size_t at = size; at > 0 && lines.size() < count; --at) {
            if (block[at - 1] != '\n') continue;
            if (!tooLong) line.insert(0, block.data() + at, to - at);
            finish();
            to = at - 1;
        }
        if (lines.size() >= count) break;
        if (!tooLong) line.insert(0, block.data(), to);
        if (line.size() > kLongestLine) {
            tooLong = true;
            line.clear();
        }
        end = start;
    }
    if (end <= 0 && lines.size() < count) finish();   // the file's first line
    ::close(fd);
    return lines;
}

// Columns are aligned by the characters shown, not by bytes: names may be Chinese.
std::size_t Width(const std::string& text) {
    std::size_t width = 0;
    for (const char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++width;
    return width;
}

// A cell as a terminal should show it. Names and paths come from files and targets: an
// escape or another control character in them (C0, DEL, or C1 written as UTF-8) would
// move the cursor, retitle the window or hide the rows before it, so it is shown as \xNN.
std::string Printable(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    const auto hex = [&out](unsigned byte) {
        static constexpr char kDigits[] = "0123456789abcdef";
        out += "\\x";
        out += kDigits[byte >> 4];
        out += kDigits[byte & 0xF];
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == 0x7F) {
            hex(byte);
        } else if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            hex(static_cast<unsigned char>(text[++i]));
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

std::string CUpdateHistory::UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string CUpdateHistory::FormatLine(const HistoryRecord& record) { return JsonLine(HistoryRecordToJson(record)); }

std::optional<HistoryRecord> CUpdateHistory::ParseLine(std::string_view line) {
    // JSON never holds a raw NUL, and the parser would take one for the end of the line
    // and pass over whatever follows it (the zeros a crash may leave in a file).
    if (line.find('\0') != std::string_view::npos) return std::nullopt;
    // Bytes that are no UTF-8 (a file name that never was, an editor in another
    // encoding, a writer before this one that let overlong forms pass) would make the
    // whole line unreadable to the parser: they read as U+FFFD instead.
    const std::string replaced = IsWellFormedUtf8(line) ? std::string() : ReplaceIllFormedUtf8(line);
    const std::string_view text = replaced.empty() ? line : std::string_view(replaced);
    const auto object = nlohmann::ordered_json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
    return HistoryRecordFromJson(object);
}

bool CUpdateHistory::Append(const HistoryRecord& record, std::string& error) const {
    int fd = OpenLocked(m_path, error);
    if (fd < 0) return false;
    std::string line = FormatLine(record) + '\n';
    struct stat info {};
    // Checked again on the new file: while this writer waited for its lock, others may
    // have filled it too.
    while (::fstat(fd, &info) == 0 && info.st_size > 0 && static_cast<std::uint64_t>(info.st_size) + line.size() > m_limit &&
           ::rename(m_path.c_str(), OlderPath().c_str()) == 0) {
        // The lock on the moved file is held until the new one is locked, so a writer
        // waiting for it finds the name taken by the new file and appends there.
        const int fresh = OpenLocked(m_path, error);
        ::close(fd);
        if (fresh < 0) return false;
        fd = fresh;
    }
    // A line cut short at the end of the file keeps its own line: the new one starts on
    // the next, so both stay readable.
    char last = '\n';
    if (::fstat(fd, &info) == 0 && info.st_size > 0 && ::pread(fd, &last, 1, info.st_size - 1) == 1 && last != '\n')
        line.insert(line.begin(), '\n');
    ssize_t written;
    do {
        written = ::write(fd, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    const int writeError = errno;
    const bool closed = ::close(fd) == 0;
    if (written != static_cast<ssize_t>(line.size())) {
        error = "Cannot write " + m_path + ": " +
                (written < 0 ? std::strerror(writeError) : std::string("only part of the line was written"));
        return false;
    }
    if (!closed) {
        error = "Cannot write " + m_path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

std::vector<HistoryLine> CUpdateHistory::Read() const {
    std::vector<HistoryLine> lines;
    for (const bool older : {true, false}) {
        std::ifstream in(older ? OlderPath() : m_path, std::ios::binary);
        std::size_t number = 0;
        for (std::string text; std::getline(in, text);) {
            ++number;
            if (text.empty() || text == "\r") continue;
            lines.push_back({number, ParseLine(text), older});
        }
    }
    return lines;
}

std::vector<HistoryLine> CUpdateHistory::ReadLast(std::size_t count) const {
    std::vector<HistoryLine> lines;
    const std::vector<std::string> recent = LastLines(m_path, count);
    const std::vector<std::string> older =
        recent.size() < count ? LastLines(OlderPath(), count - recent.size()) : std::vector<std::string>();
    for (auto text = older.rbegin(); text != older.rend(); ++text) lines.push_back({0, ParseLine(*text), true});
    for (auto text = recent.rbegin(); text != recent.rend(); ++text) lines.push_back({0, ParseLine(*text), false});
    return lines;
}

std::string HistoryFileIn(const std::string& folder) {
    if (folder.empty()) return {};   // no folder for the files: no history
    return (std::filesystem::path(folder) / "history.jsonl").string();
}

std::string FormatHistoryTable(const std::vector<HistoryLine>& lines, std::size_t last) {
    const std::size_t from = last && lines.size() > last ? lines.size() - last : 0;
    std::vector<std::vector<std::string>> rows = {
        {"time (UTC)", "adapter", "target", "task", "kind", "file", "size", "sha256", "version", "before", "after",
         "result", "duration"}};
    for (std::size_t i = from; i < lines.size(); ++i) {
        const HistoryLine& line = lines[i];
        if (!line.record) {
            rows.push_back({line.number == 0 ? std::string("(a damaged line)")
                                             : "(line " + std::to_string(line.number) +
                                                   (line.older ? " in history.jsonl.1" : "") + " is damaged)"});
            continue;
        }
        const HistoryRecord& r = *line.record;
        std::string result = r.stage;
        while (!result.empty() && result.back() == ' ') result.pop_back();
        result += (result.empty() ? "" : ": ") + r.result;
        rows.push_back({r.time, r.adapter, r.target, r.task, r.kind, r.file, std::to_string(r.size), ShortHash(r.sha256),
                        r.fileVersion.empty() ? "-" : r.fileVersion, r.targetVersion.empty() ? "-" : r.targetVersion,
                        r.versionAfter.empty() ? "-" : r.versionAfter, result, Duration(r.durationMs)});
    }
    for (auto& row : rows)
        for (auto& cell : row) cell = Printable(cell);
    std::vector<std::size_t> widths(rows.front().size(), 0);
    for (const auto& row : rows)
        if (row.size() == widths.size())
            for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], Width(row[c]));
    std::string out;
    for (const auto& row : rows) {
        for (std::size_t c = 0; c < row.size(); ++c) {
            out += row[c];
            if (c + 1 < row.size()) out += std::string(widths[c] - Width(row[c]) + 2, ' ');
        }
        out += '\n';
    }
    return out;
}

}  // namespace fdp
