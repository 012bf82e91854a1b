// The simulator's log: one JSON object per line for every frame in and out and for
// the simulator's own events, flushed line by line so that a test can read it while
// the simulator runs. Keys come in a fixed order:
//   {"t_ms":…,"dir":"in"|"out","type":N[,"code":N][,"block":N|"status":N|"challenge":N],
//    "note":"…","len":N,"head":"<hex of up to 64 payload bytes>"}
//   {"t_ms":…,"event":"…"[,"detail":"…"]}
// Numbers are decimal. Threads: any; lines never interleave.
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "tools/nap-sim/NapModel.h"

namespace napsim {

class CFrameLog {
public:
    CFrameLog() = default;
    ~CFrameLog();
    CFrameLog(const CFrameLog&) = delete;
    CFrameLog& operator=(const CFrameLog&) = delete;

    // Starts a new log file; false when it cannot be created.
    bool Open(const std::string& path);
    void Frame(FrameDirection direction, std::span<const std::uint8_t> frame, std::string_view note);
    void Event(std::string_view event, std::string_view detail = {});

    // The JSON line of a frame, without the time and the line end (for tests).
    static std::string Describe(FrameDirection direction, std::span<const std::uint8_t> frame,
                                std::string_view note);

private:
    void WriteLine(const std::string& body);

    std::mutex m_lock;
    std::FILE* m_file = nullptr;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

}  // namespace napsim
