// Thins out the engine's stage reports before they are posted to the download page: a
// running transfer (stage 62) always passes with its position, any other stage only when
// its (stage, result) pair differs from the last one passed.
//
// The memory belongs to one run: Forget is called each time the link accepts a new
// download or request, so that a retry failing exactly as the run before it (63 with the
// same result, or 61 for a file that is missing again) is still posted.
//
// Pass runs on the engine's worker thread, Forget on the thread that hands the link its
// requests; the memory is guarded for that.
#pragma once

#include <algorithm>
#include <cstdint>
#include <mutex>

namespace fdp {

inline constexpr unsigned kStageTransferring = 62;

class CReportFilter {
public:
    // True when the report is to be posted; lParam is then the value to post with it.
    bool Pass(unsigned stage, unsigned result, std::uint32_t position, std::uint32_t total, std::int32_t& lParam) {
        if (stage == kStageTransferring) {
            lParam = static_cast<std::int32_t>(std::min(position, total));
            return true;
        }
        const auto s = static_cast<std::uint8_t>(stage), r = static_cast<std::uint8_t>(result);
        std::lock_guard lock(m_lock);
        if (s == m_lastStage && r == m_lastResult) return false;
        m_lastStage = s;
        m_lastResult = r;
        lParam = static_cast<std::int32_t>(r);
        return true;
    }

    // A new run begins: nothing posted before it suppresses any of its reports.
    void Forget() {
        std::lock_guard lock(m_lock);
        m_lastStage = kNoStage;
        m_lastResult = kNoResult;
    }

private:
    // The pair remembered before anything was posted; a report of it is not posted.
    static constexpr std::uint8_t kNoStage = 0;
    static constexpr std::uint8_t kNoResult = 0xFF;

    std::mutex m_lock;
    std::uint8_t m_lastStage = kNoStage;
    std::uint8_t m_lastResult = kNoResult;
};

}  // namespace fdp
