// Where a download (or a request that is reported as one) stands: a step and its phase.
// The steps are the erase and the burn of the boot, program and parameter areas in turn
// (0..5), the transfer of the file (6), which comes before them, reading the parameters
// (7) and the trace (8); each is begun (1), running (2) and ended (3). The stage's number,
// 10 x step + phase, is what the texts and the history line know it by; it is made here
// and nowhere else.
#pragma once

#include <cstdint>
#include <optional>

#include "fdp/FdpTypes.h"

namespace fdp {

struct Stage {
    enum Step : std::uint8_t {
        EraseBoot = 0,
        BurnBoot = 1,
        EraseProgram = 2,
        BurnProgram = 3,
        EraseParam = 4,
        BurnParam = 5,
        Transfer = 6,
        ReadParams = 7,
        ReadTrace = 8,
    };
    enum Phase : std::uint8_t { Begun = 1, Running = 2, Ended = 3 };

    Step step = Transfer;
    Phase phase = Begun;

    // The erase (or, burn true, the burn) step of a flash area.
    static constexpr Stage Of(std::uint8_t kind, bool burn, Phase phase) {
        const unsigned erase = kind == KindBoot ? 0u : kind == KindProgram ? 2u : 4u;
        return {static_cast<Step>(erase + (burn ? 1u : 0u)), phase};
    }
    // The stage a number names; nothing for a number that names none.
    static constexpr std::optional<Stage> FromNumber(unsigned number) {
        const unsigned step = number / 10, phase = number % 10;
        if (step > ReadTrace || phase < Begun || phase > Ended) return std::nullopt;
        return Stage{static_cast<Step>(step), static_cast<Phase>(phase)};
    }

    constexpr unsigned Number() const { return 10u * step + phase; }
    constexpr bool IsFlashStep() const { return step <= BurnParam; }
    constexpr bool IsBurn() const { return IsFlashStep() && step % 2 == 1; }
    // The flash area of an erase or burn step (a DownloadKind); 0 for the others.
    constexpr std::uint8_t Kind() const {
        if (!IsFlashStep()) return 0;
        return step / 2 == 0 ? KindBoot : step / 2 == 1 ? KindProgram : KindParam;
    }
    constexpr bool IsTransferring() const { return step == Transfer && phase == Running; }

    // The report that ends a staged download: a failed step, the file not opened, or the
    // end of its burn.
    constexpr bool EndsDownload(unsigned result) const {
        return result != 0 || (IsBurn() && phase == Ended) || (step == Transfer && phase == Begun);
    }
    // A successful burn of the boot or program area: the link then reads the area's
    // version back before the download's outcome is complete.
    constexpr bool ReadsVersionAfter(unsigned result) const {
        return result == 0 && IsBurn() && phase == Ended && step != BurnParam;
    }

    friend constexpr bool operator==(const Stage&, const Stage&) = default;
};

}  // namespace fdp
