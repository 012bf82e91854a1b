// Thins out the engine's stage reports before they are handed to the download page: a
// running transfer always passes, any other stage only when its (stage, result) pair
// differs from the last one passed.
//
// The memory belongs to one run: Forget is called each time the link accepts a new
// download or request, so that a retry failing exactly as the run before it (the transfer's
// end with the same result, or a file that is missing again) is still handed on.
//
// Pass runs on the engine's worker thread, Forget on the thread that hands the link its
// requests; the memory is guarded for that.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>

#include "fdp/LinkEvent.h"

namespace fdp {

class CReportFilter {
public:
    // True when the report is to be handed on.
    bool Pass(const StageReport& report) {
        if (report.stage.IsTransferring()) return true;
        const auto result = static_cast<std::uint8_t>(report.result);
        std::lock_guard lock(m_lock);
        if (m_last && *m_last == report.stage && result == m_lastResult) return false;
        m_last = report.stage;
        m_lastResult = result;
        return true;
    }

    // A new run begins: nothing handed on before it suppresses any of its reports.
    void Forget() {
        std::lock_guard lock(m_lock);
        m_last.reset();
    }

private:
    std::mutex m_lock;
    std::optional<Stage> m_last;
    std::uint8_t m_lastResult = 0;
};

}  // namespace fdp
