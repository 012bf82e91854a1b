// A target heard announcing itself: its address, the adapter it was heard on, how often
// and when last. The link's listen lists these when several answer at once, and
// `kelvane-cli targets` lists them without logging in.
#pragma once

#include <chrono>
#include <string>

#include "fdp/FrameCodec.h"

namespace fdp {

struct HeardTarget {
    MacAddress address{};
    std::string adapter;            // interface name it announced on
    int adapterIndex = -1;          // the driver's adapter index; -1: the adapter in use
    unsigned announces = 0;
    std::chrono::steady_clock::time_point lastSeen;
};

}  // namespace fdp
