// The running report of a download as the user sees it: which stage reports add a line
// (the report's status text), where the progress bar stands
// (0..1000 transfer, 1000 erase, 1200 burn, 1250 done) and what state the download is in.
// Used on the thread that receives the posted reports.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

#include "fdp/LinkEvent.h"

namespace fdp {

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

    // One report handed on. Returns the line to append (the report's status text), without
    // its line end.
    std::optional<std::string> OnReport(const StageReport& report) {
        const Stage stage = report.stage;
        if (stage.IsTransferring()) {
            m_state = Transferring;
            m_bar = static_cast<int>(std::min<std::uint32_t>({report.position, report.total, 1000}));
            if (!m_linePending) return std::nullopt;
            m_linePending = false;
            return report.text;
        }
        if (report.result != 0) {   // a step failed
            m_linePending = true;
            m_state = Idle;
            return report.text;
        }
        if (!stage.IsFlashStep() || stage.phase == Stage::Running) return std::nullopt;
        if (stage.phase == Stage::Begun) {
            m_bar = stage.IsBurn() ? 1200 : 1000;
            m_state = stage.IsBurn() ? Burning : Erasing;
            return report.text;
        }
        if (!stage.IsBurn()) return std::nullopt;
        m_bar = 1250;
        m_linePending = true;
        m_state = Done;
        return report.text;
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
