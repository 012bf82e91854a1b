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

#include "fdp/JsonString.h"
#include "fdp/PrivateFile.h"
#include "fdp/Utf8.h"

namespace fdp {

namespace {

void AppendString(std::string& out, std::string_view text) { out += JsonString(text); }

// Reads the flat objects this file holds: string and unsigned number values. Anything
// else, or anything cut short, gives nothing.
class FlatObjectReader {
public:
    explicit FlatObjectReader(std::string_view text) : m_text(text) {}

    template <typename OnString, typename OnNumber>
    bool Read(OnString&& onString, OnNumber&& onNumber) {
        SkipSpace();
        if (!Take('{')) return false;
        SkipSpace();
        if (Take('}')) return AtEnd();
        for (;;) {
            std::string key;
            SkipSpace();
            if (!String(key)) return false;
            SkipSpace();
            if (!Take(':')) return false;
            SkipSpace();
            if (Peek() == '"') {
                std::string value;
                if (!String(value)) return false;
                onString(key, std::move(value));
            } else {
                std::uint64_t value = 0;
                if (!Number(value)) return false;
                onNumber(key, value);
            }
            SkipSpace();
            if (Take('}')) return AtEnd();
            if (!Take(',')) return false;
        }
    }

private:
    char Peek() const { return m_at < m_text.size() ? m_text[m_at] : '\0'; }
    bool Take(char c) {
        if (Peek() != c || m_at >= m_text.size()) return false;
        ++m_at;
        return true;
    }
    void SkipSpace() {
        while (m_at < m_text.size() && (m_text[m_at] == ' ' || m_text[m_at] == '\t' || m_text[m_at] == '\r')) ++m_at;
    }
    bool AtEnd() {
        SkipSpace();
        return m_at == m_text.size();
    }
    bool Hex4(std::uint32_t& value) {
        if (m_text.size() - m_at < 4) return false;
        value = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = m_text[m_at++];
            value <<= 4;
            if (c >= '0' && c <= '9') value |= static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f') value |= static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') value |= static_cast<std::uint32_t>(c - 'A' + 10);
            else return false;
        }
        return true;
    }
    bool String(std::string& out) {
        if (!Take('"')) return false;
        while (m_at < m_text.size()) {
            const char c = m_text[m_at++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (m_at >= m_text.size()) return false;
            const char e = m_text[m_at++];
            switch (e) {
            case '"': case '\\': case '/': out += e; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                std::uint32_t code = 0;
                if (!Hex4(code)) return false;
                if (code >= 0xD800 && code < 0xDC00) {   // a surrogate pair
                    std::uint32_t low = 0;
                    if (!Take('\\') || !Take('u') || !Hex4(low) || low < 0xDC00 || low >= 0xE000) return false;
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                } else if (code >= 0xDC00 && code < 0xE000) {
                    return false;
                }
                AppendUtf8(out, static_cast<char32_t>(code));
                break;
            }
            default: return false;
            }
        }
        return false;   // cut short
    }
    bool Number(std::uint64_t& value) {
        const std::size_t start = m_at;
        value = 0;
        while (m_at < m_text.size() && m_text[m_at] >= '0' && m_text[m_at] <= '9') {
            const auto digit = static_cast<std::uint64_t>(m_text[m_at] - '0');
            if (value > (UINT64_MAX - digit) / 10) return false;
            value = value * 10 + digit;
            ++m_at;
        }
        return m_at > start;
    }

    std::string_view m_text;
    std::size_t m_at = 0;
};

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

}  // namespace

std::string CUpdateHistory::UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string CUpdateHistory::FormatLine(const HistoryRecord& r) {
    std::string out = "{";
    bool first = true;
    const auto key = [&](const char* name) {
        if (!first) out += ',';
        first = false;
        AppendString(out, name);
        out += ':';
    };
    const auto text = [&](const char* name, const std::string& value) {
        key(name);
        AppendString(out, value);
    };
    const auto number = [&](const char* name, std::uint64_t value) {
        key(name);
        out += std::to_string(value);
    };
    text("time", r.time);
    text("adapter", r.adapter);
    text("target", r.target);
    text("task", r.task);
    text("kind", r.kind);
    text("file", r.file);
    number("size", r.size);
    // A parameter block holds the login password, and its hash would let anyone who
    // reads the history try passwords offline: parameters name their fields instead.
    if (!r.sha256.empty()) text("sha256", r.sha256);
    if (!r.fields.empty()) text("fields", r.fields);
    text("fileVersion", r.fileVersion);
    text("targetVersion", r.targetVersion);
    if (!r.versionAfter.empty()) text("versionAfter", r.versionAfter);
    number("stageCode", r.stageCode);
    text("stage", r.stage);
    number("resultCode", r.resultCode);
    text("result", r.result);
    number("durationMs", r.durationMs);
    out += '}';
    return out;
}

std::optional<HistoryRecord> CUpdateHistory::ParseLine(std::string_view line) {
    HistoryRecord r;
    bool hasTime = false;
    FlatObjectReader reader(line);
    const bool read = reader.Read(
        [&](const std::string& name, std::string value) {
            std::string* field = name == "time"            ? (hasTime = true, &r.time)
                                 : name == "adapter"       ? &r.adapter
                                 : name == "target"        ? &r.target
                                 : name == "task"          ? &r.task
                                 : name == "kind"          ? &r.kind
                                 : name == "file"          ? &r.file
                                 : name == "sha256"        ? &r.sha256
                                 : name == "fields"        ? &r.fields
                                 : name == "fileVersion"   ? &r.fileVersion
                                 : name == "targetVersion" ? &r.targetVersion
                                 : name == "versionAfter"  ? &r.versionAfter
                                 : name == "stage"         ? &r.stage
                                 : name == "result"        ? &r.result
                                                           : nullptr;
            if (field) *field = std::move(value);   // other fields: a later version's
        },
        [&](const std::string& name, std::uint64_t value) {
            const auto small = static_cast<unsigned>(std::min<std::uint64_t>(value, UINT32_MAX));
            if (name == "size") r.size = value;
            else if (name == "durationMs") r.durationMs = value;
            else if (name == "stageCode") r.stageCode = small;
            else if (name == "resultCode") r.resultCode = small;
        });
    if (!read || !hasTime) return std::nullopt;
    return r;
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
