// The loop test choices the loop test page leaves for the download page, kept for the
// whole process like the WizardJob. User-interface thread only.
#pragma once

#include <cstdint>

struct LoopTestChoice {
    std::int32_t testTarget = 0;        // 1009: the target sends, the dongle counts
    std::int32_t testDongle = 0;        // 1089: the dongle sends, the target counts
    std::int32_t targetTestMode = 0;    // 1002
    std::int32_t dongleTestMode = 0;    // 1010
    std::int32_t dongleMaster = 0;      // 1011
    std::int32_t dongleSlave = 0;       // 1012: stored, decides nothing
    std::uint32_t loopDataSize = 0;     // bytes, 1 to 1000
    std::uint32_t loopSpeed = 0;        // KBytes/s, 10 to 80
};

LoopTestChoice& TheLoopTestChoice();

namespace hci {
class CDongleLink;
}
// The dongle link of the loop test, one per process: the loop test page opens and
// starts it, the download page runs the tests through it and closes it.
hci::CDongleLink& TheDongleLink();
