// What a production line shows of its targets. On a terminal, a table redrawn in
// place: one line per target (address, adapter, stage, progress bar and percent,
// elapsed seconds, result in the report's words) and a summary line under it. Off a
// terminal, or with --no-progress, one plain line per target when it starts and when it
// ends. The texts are made here; the line decides when they are shown.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace cli {

struct LineRow {
    enum class State { Waiting, Running, Done, Skipped, Failed };
    std::string target;     // aa:bb:cc:dd:ee:ff
    std::string adapter;
    State state = State::Waiting;
    std::string stage;      // the stage word of the last report ("login" before any)
    int percent = -1;       // the download's progress; -1: none to show
    std::chrono::steady_clock::duration elapsed{};
    std::string result;     // the last report's words, or how the run ended
};

struct LineCounts {
    unsigned done = 0, failed = 0, running = 0, waiting = 0;
};

class CLineBoard {
public:
    static LineCounts Count(const std::vector<LineRow>& rows);
    // A row of the table, cut to the terminal's width (columns) so it never wraps.
    static std::string TableLine(const LineRow& row, unsigned columns);
    // "done 2, failed 1 (02:4b:56:00:01:02), running 0, waiting 0"
    static std::string SummaryLine(const std::vector<LineRow>& rows);

    // The table drawn again over the last drawing (the cursor is left under it); the
    // first drawing just prints it. Writes to fd; columns: the terminal's width.
    void Draw(int fd, const std::vector<LineRow>& rows, unsigned columns);

private:
    std::size_t m_drawnLines = 0;
};

// The terminal's width on fd, 80 when it cannot be told.
unsigned TerminalColumns(int fd);

}  // namespace cli
