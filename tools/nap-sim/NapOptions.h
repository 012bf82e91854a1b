// Command-line options of kelvane-nap-sim. Parsing only: files named by options are
// read by the program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/nap-sim/NapConfig.h"

namespace napsim {

struct NapOptions {
    std::string interfaceName;       // required
    std::uint32_t announceMs = 1000;
    // After a login the target stops announcing; it starts again once the PC has sent
    // nothing for this long, so that the PC can log in anew. 0: never again.
    std::uint32_t reannounceMs = 3000;
    std::string logPath;
    std::string paramsPath;
    std::string traceFile;
    // The target's Bluetooth module: a controller device (unix:PATH, hciN, a serial
    // path); empty: none, the loop requests are answered without radio.
    std::string btDevice;
    bool btRadioOn = true;
    // Bytes of every loop run the module keeps back: sent to nobody, left out of its
    // receive report (a lossy radio).
    std::uint32_t btWithhold = 0;
    bool help = false;
    NapConfig config;
};

// False with a message for an unknown option or a bad value.
bool ParseNapOptions(const std::vector<std::string>& args, NapOptions& options, std::string& error);

// A version word given as a.b.c.d (a most significant, each 0-255) or as a number
// (decimal or 0x…). False when it is neither.
bool ParseVersion(const std::string& text, std::uint32_t& version);

extern const char* const kNapUsage;

}  // namespace napsim
