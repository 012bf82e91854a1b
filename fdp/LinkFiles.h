// The link's two files beside the program: trace.txt (the target's trace text, or a
// parameter block dumped for the technician) and Target_Bt_Addr.txt (one line per
// login). Both are the user's alone: a parameter dump puts the login password in the
// trace, and a link planted in their place is refused, not followed. A file that cannot
// be written is given up; the link goes on.
//
// Threads: Open and Close on the owner's thread; the trace's length and text on the
// link's receiver thread; dumps and address lines on the thread that asks.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

namespace fdp {

class CLinkFiles {
public:
    CLinkFiles() = default;
    ~CLinkFiles() { Close(); }
    CLinkFiles(const CLinkFiles&) = delete;
    CLinkFiles& operator=(const CLinkFiles&) = delete;

    // Creates both files in folder (emptied); false when either cannot be created. No
    // folder: nothing is kept, and that is no failure.
    bool Open(const std::string& folder);
    void Close();

    void OnTraceLength(std::uint32_t total);
    void OnTraceData(const std::uint8_t* data, std::uint32_t length);
    // The last trace answer's total length (any thread).
    std::uint32_t TraceTotal() const { return m_traceTotal; }

    // Writes a parameter block over the start of trace.txt.
    void DumpParams(const std::uint8_t* image, std::uint32_t length);
    // Appends a line (bytes, then CR LF) to Target_Bt_Addr.txt; false when it is not
    // written.
    bool WriteAddressLine(const std::uint8_t* bytes, std::uint8_t length);

private:
    void AbandonTraceLocked();

    std::mutex m_lock;
    std::FILE* m_trace = nullptr;
    std::int64_t m_traceRemaining = -1;
    std::atomic<std::uint32_t> m_traceTotal{0};
    std::FILE* m_address = nullptr;
};

}  // namespace fdp
