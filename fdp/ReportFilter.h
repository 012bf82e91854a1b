// Thins out the engine's stage reports before they are posted to the download page: a
// running transfer (stage 62) always passes with its position, any other stage only when
// its (stage, result) pair differs from the last one passed.
#pragma once

#include <algorithm>
#include <cstdint>

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
        if (s == m_lastStage && r == m_lastResult) return false;
        m_lastStage = s;
        m_lastResult = r;
        lParam = static_cast<std::int32_t>(r);
        return true;
    }

private:
    std::uint8_t m_lastStage = 0;
    std::uint8_t m_lastResult = 0xFF;
};

}  // namespace fdp
