// The running report of a download as the user sees it: which posted stage reports add
// a line (the front end's status text at that moment), where the progress bar stands
// (0..1000 transfer, 1000 erase, 1200 burn, 1250 done) and what state the download is in.
// Used on the thread that receives the posted reports.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace fdp {

// The report that ends a staged download: a failed step, the file not opened (61), or the
// end of its burn.
inline bool IsLastDownloadStage(unsigned stage, unsigned result) {
    return result != 0 || stage == 13 || stage == 33 || stage == 53 || stage == 61;
}

// A successful burn of the boot (13) or program (33) area: the link then reads the
// area's version back before the download's outcome is complete.
inline bool ReadsVersionAfter(unsigned stage, unsigned result) { return result == 0 && (stage == 13 || stage == 33); }

class CDownloadReport {
public:
    // The download page's DownloadState, with its stored values.
    enum State : std::int32_t { Idle = 0, Erasing = 1, Transferring = 2, Burning = 3, Done = 4 };

    // A new download was handed to the link.
    void Begin() {
        m_state = Transferring;
        m_bar = 0;
        m_linePending = true;
    }

    // One posted report: stage, and its result or (stage 62) the transfer position.
    // Returns the line to append, without its line end.
    std::optional<std::string> OnReport(unsigned stage, std::int32_t lParam, const std::string& statusText) {
        if (stage == 62) {
            m_state = Transferring;
            m_bar = lParam > 1000 ? 1000 : lParam < 0 ? 0 : lParam;
            if (!m_linePending) return std::nullopt;
            m_linePending = false;
            return statusText;
        }
        if (lParam != 0) {   // a step failed
            m_linePending = true;
            m_state = Idle;
            return statusText;
        }
        switch (stage) {
        case 1: case 21: case 41: m_bar = 1000; m_state = Erasing; return statusText;
        case 11: case 31: case 51: m_bar = 1200; m_state = Burning; return statusText;
        case 13: case 33: case 53:
            m_bar = 1250;
            m_linePending = true;
            m_state = Done;
            return statusText;
        default: return std::nullopt;
        }
    }

    // The page became active again: nothing runs, the next line stays pending as it was.
    void Reset() { m_state = Idle; }

    State state() const { return m_state; }
    int Bar() const { return m_bar; }
    static constexpr int kBarMax = 1250;

private:
    State m_state = Idle;
    int m_bar = 0;
    bool m_linePending = true;
};

}  // namespace fdp
