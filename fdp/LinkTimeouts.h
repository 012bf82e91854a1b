// The link's wait times in milliseconds, in one place. The target resends nothing
// after a time-out; only download blocks are sent again.
#pragma once

#include <cstdint>

namespace fdp {

struct LinkTimeouts {
    std::uint32_t listen = 30000;        // announce frame
    // Listening before a login: every target that announces meanwhile is heard, and
    // with more than one (or one on several adapters) none is logged in to.
    std::uint32_t hearOut = 1000;
    std::uint32_t login = 5000;          // login reply
    std::uint32_t status = 2000;         // start, data block, abort
    std::uint32_t flashShort = 30000;    // erase and burn of the boot and parameter areas
    std::uint32_t flashLong = 80000;     // erase and burn of the program area
    std::uint32_t params = 20000;        // whole parameter answer
    std::uint32_t transfer = 40000;      // whole transfer answer
    // The version read back after a burn: a target that restarts after it answers late
    // or never, and the technician's next step must not wait on it.
    std::uint32_t readBack = 5000;
    std::uint32_t trace = 30000;         // whole trace answer
    int blockSends = 3;                  // sends of one data block before a time-out counts

    std::uint32_t Flash(std::uint8_t kind) const { return kind == 3 ? flashLong : flashShort; }
};

}  // namespace fdp
