// kelvane-cli on a terminal: an erase or burn that waits on the target shows the seconds
// since it began against the wait's bound, redrawn in place on its line; off a terminal
// (or with --no-progress) the line is printed once as it always was.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "fdp/LinkEvent.h"
#include "fdp/RequestFrontEnd.h"
#include "tools/cli/CliFrontEnd.h"

namespace {

using namespace std::chrono_literals;

// Standard output into a file for the life of the object.
class CapturedStdout {
public:
    CapturedStdout() {
        std::fflush(stdout);
        m_saved = ::dup(STDOUT_FILENO);
        m_file = std::tmpfile();
        ::dup2(::fileno(m_file), STDOUT_FILENO);
    }
    ~CapturedStdout() { Restore(); }
    std::string Take() {
        Restore();
        std::string text;
        std::rewind(m_file);
        char chunk[512];
        while (const std::size_t n = std::fread(chunk, 1, sizeof chunk, m_file)) text.append(chunk, n);
        std::fclose(m_file);
        m_file = nullptr;
        return text;
    }

private:
    void Restore() {
        if (m_saved < 0) return;
        std::fflush(stdout);
        ::dup2(m_saved, STDOUT_FILENO);
        ::close(m_saved);
        m_saved = -1;
    }
    int m_saved = -1;
    std::FILE* m_file = nullptr;
};

fdp::StageReport At(unsigned number, const char* text = "") {
    return fdp::StageReport{fdp::Stage::FromNumber(number).value(), 0, 0, 0, text};
}

// A program download's erase that takes a little over a second: stage 21 begins the
// erase of the program area (wait 80 s), 23 ends it, 31 begins the burn.
std::string EraseOutput(bool terminal) {
    fdp::CRequestFrontEnd link;
    CapturedStdout out;
    {
        cli::CCliFrontEnd front(terminal, link);
        front.BeginDownload();
        front.OnLinkEvent(At(21, "Start to erase program area!"));
        front.OnLinkEvent(At(22, "Erasing program area..."));
        std::this_thread::sleep_for(1300ms);
        front.OnLinkEvent(At(23, "Erase program area successfully!"));
        front.OnLinkEvent(At(31, "Start to burn program area!"));
        front.OnLinkEvent(At(32, "Burning program area..."));
        front.OnLinkEvent(At(33, "Burn program area successfully!"));
    }
    return out.Take();
}

TEST(WaitLineTest, OnATerminalTheEraseLineCountsItsSecondsAgainstTheBound) {
    const std::string shown = EraseOutput(true);
    EXPECT_NE(shown.find("Start to erase program area! 0 s (at most 80 s)"), std::string::npos) << shown;
    EXPECT_NE(shown.find("\rStart to erase program area! 1 s (at most 80 s)\n"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("2 s (at most"), std::string::npos) << "redrawn once a second\n" << shown;
    // The burn's wait began and ended at once: its line is closed before the next one.
    EXPECT_NE(shown.find("Start to burn program area! 0 s (at most 80 s)\nBurn program area successfully!\n"),
              std::string::npos)
        << shown;
}

TEST(WaitLineTest, OffATerminalTheLinesAreAsBefore) {
    EXPECT_EQ(EraseOutput(false),
              "Start to erase program area!\nStart to burn program area!\nBurn program area successfully!\n");
}

}  // namespace
