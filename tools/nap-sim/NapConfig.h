// What the simulated target is like, and the faults it plays. Every knob's default is
// a healthy target.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fdp/FrameCodec.h"

namespace napsim {

struct NapConfig {
    // The target's own Ethernet address, the source of every frame it sends.
    fdp::MacAddress address = {0x02, 0x4b, 0x56, 0x00, 0x00, 0x02};
    std::string password = "kiwi";
    // The challenge of the first announce; later ones come from a generator seeded
    // with it. Nothing: a random first challenge.
    std::optional<std::uint32_t> challenge;

    // Login status sent for a right answer (a wrong answer always gets 1).
    std::uint8_t loginStatus = 0;

    // Download faults. Blocks are counted from 1 within a download; the count equals
    // the block number until the numbers wrap after 1000.
    std::set<std::uint32_t> dropFirstSend;            // first send ignored, no reply
    std::optional<std::uint32_t> silenceAfterBlock;   // answers nothing after this block
    std::map<std::uint32_t, std::uint8_t> blockStatus;  // block -> status instead of 0
    std::uint8_t startStatus = 0;
    std::uint8_t eraseStatus = 0;
    std::uint8_t burnStatus = 0;
    std::uint8_t statusCode = 0x02;                   // reply code of download statuses: 0x02 or 0x04
    std::uint32_t eraseDelayMs = 0;
    // The status faults above hit only the first this many downloads; nothing: all.
    std::optional<std::uint32_t> faultDownloads;
    std::uint32_t burnDelayMs = 0;

    // Version words as the target reports them; nothing: the word at offset 64 of the
    // burnt image, or the built-in version while the area holds no image (FF FF FF FF
    // for an erased area).
    std::optional<std::uint32_t> bootVersion;
    std::optional<std::uint32_t> programVersion;
    // A burn that does not take: both areas go on reporting the version they held at start.
    bool keepVersion = false;

    std::uint8_t diagnose = 0x3F;          // one bit per unit: UART, MAC, RAM, FLASH, TIMER, BT
    std::uint8_t testModeStatus = 0;
    std::uint8_t transferStatus = 0;       // end status of every transfer answer that succeeds

    // Where burnt images are kept across runs (boot.bin, program.bin, param.bin);
    // empty: in memory only.
    std::string stateDir;
    // The parameter block at start; empty: param.bin of the state folder, else the
    // built-in standard block.
    std::vector<std::uint8_t> params;
    // The trace text; nothing: the built-in text.
    std::optional<std::string> traceText;
};

}  // namespace napsim
