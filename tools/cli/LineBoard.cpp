#include "tools/cli/LineBoard.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "resources/strings/StringTable.h"
#include "tools/cli/CliFiles.h"

namespace cli {

namespace {

std::string StateWord(LineRow::State state) {
    switch (state) {
    case LineRow::State::Waiting: return res::Text("waiting");
    case LineRow::State::Running: return res::Text("running");
    case LineRow::State::Done: return res::Text("done");
    case LineRow::State::Skipped: return res::Text("skipped");
    case LineRow::State::Failed: return res::Text("failed");
    }
    return "";
}

// The columns a UTF-8 text takes: a wide (East Asian) character two, others one.
unsigned Width(std::string_view text, std::size_t& bytesWithin, unsigned limit) {
    unsigned columns = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        const unsigned wide = length >= 3 ? 2 : 1;
        if (columns + wide > limit || i + length > text.size()) break;
        columns += wide;
        i += length;
    }
    bytesWithin = i;
    return columns;
}

std::string Fit(const std::string& text, unsigned columns) {
    std::size_t bytes = 0;
    Width(text, bytes, columns);
    return text.substr(0, bytes);
}

}  // namespace

LineCounts CLineBoard::Count(const std::vector<LineRow>& rows) {
    LineCounts counts;
    for (const LineRow& row : rows) {
        switch (row.state) {
        case LineRow::State::Waiting: ++counts.waiting; break;
        case LineRow::State::Running: ++counts.running; break;
        case LineRow::State::Done:
        case LineRow::State::Skipped: ++counts.done; break;
        case LineRow::State::Failed: ++counts.failed; break;
        }
    }
    return counts;
}

std::string CLineBoard::TableLine(const LineRow& row, unsigned columns) {
    constexpr int kBar = 12;
    const unsigned width = columns > 1 ? columns - 1 : 1;
    char head[160];
    if (row.state == LineRow::State::Waiting) {
        std::snprintf(head, sizeof head, "%-17s  %-8.8s  %s", row.target.c_str(), row.adapter.c_str(),
                      StateWord(row.state).c_str());
        return Fit(head, width);
    }
    const bool running = row.state == LineRow::State::Running;
    std::string bar;
    if (row.percent >= 0) {
        const int filled = row.percent * kBar / 100;
        bar = "[" + std::string(static_cast<std::size_t>(filled), '#') + std::string(static_cast<std::size_t>(kBar - filled), '.') + "]";
    } else {
        bar = std::string(kBar + 2, ' ');
    }
    const long seconds = static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(row.elapsed).count());
    std::snprintf(head, sizeof head, "%-17s  %-8.8s  %-8.8s  %s %4s  %4ld s  ", row.target.c_str(), row.adapter.c_str(),
                  running ? row.stage.c_str() : StateWord(row.state).c_str(), bar.c_str(),
                  row.percent >= 0 ? (std::to_string(row.percent) + "%").c_str() : "", seconds);
    return Fit(std::string(head) + row.result, width);
}

std::string CLineBoard::SummaryLine(const std::vector<LineRow>& rows) {
    const LineCounts counts = Count(rows);
    std::string failed;
    for (const LineRow& row : rows)
        if (row.state == LineRow::State::Failed) failed += (failed.empty() ? "" : ", ") + row.target;
    const auto part = [](LineRow::State state, unsigned n) { return StateWord(state) + " " + std::to_string(n); };
    return part(LineRow::State::Done, counts.done) + ", " + part(LineRow::State::Failed, counts.failed) +
           (failed.empty() ? "" : " (" + failed + ")") + ", " + part(LineRow::State::Running, counts.running) + ", " +
           part(LineRow::State::Waiting, counts.waiting);
}

void CLineBoard::Draw(int fd, const std::vector<LineRow>& rows, unsigned columns) {
    std::string text;
    // Back to the first line drawn; every line is cleared before it is written again.
    if (m_drawnLines > 0) text += "\r\x1b[" + std::to_string(m_drawnLines) + "A";
    for (const LineRow& row : rows) text += "\x1b[2K" + TableLine(row, columns) + "\n";
    text += "\x1b[2K" + Fit(SummaryLine(rows), columns > 1 ? columns - 1 : 1) + "\n";
    m_drawnLines = rows.size() + 1;
    WriteAll(fd, text);
}

unsigned TerminalColumns(int fd) {
    winsize size{};
    if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

}  // namespace cli
