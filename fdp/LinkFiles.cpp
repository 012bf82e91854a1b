#include "fdp/LinkFiles.h"

#include <unistd.h>

#include "fdp/DebugTrace.h"
#include "fdp/PrivateFile.h"

namespace fdp {

bool CLinkFiles::Open(const std::string& folder) {
    if (folder.empty()) return true;
    const auto open = [&folder](const char* name, const char* mode) -> std::FILE* {
        CPrivateFile file = CPrivateFile::Open(folder + "/" + name, CPrivateFile::Mode::Truncate);
        if (!file.IsOpen()) {
            DebugTrace("%s\n", file.Error().c_str());
            return nullptr;
        }
        const int fd = file.Release();
        std::FILE* stream = ::fdopen(fd, mode);
        if (!stream) ::close(fd);
        return stream;
    };
    std::lock_guard lock(m_lock);
    m_trace = open("trace.txt", "w+b");
    if (!m_trace) return false;
    m_address = open("Target_Bt_Addr.txt", "wb");
    return m_address != nullptr;
}

void CLinkFiles::Close() {
    std::lock_guard lock(m_lock);
    for (std::FILE** file : {&m_trace, &m_address}) {
        if (*file) std::fclose(*file);   // fclose flushes; an error abandons the file all the same
        *file = nullptr;
    }
}

void CLinkFiles::OnTraceLength(std::uint32_t total) {
    m_traceTotal = total;
    std::lock_guard lock(m_lock);
    m_traceRemaining = total;
}

void CLinkFiles::OnTraceData(const std::uint8_t* data, std::uint32_t length) {
    std::lock_guard lock(m_lock);
    m_traceRemaining -= length;
    if (m_traceRemaining < 0 || !m_trace) return;
    if (std::fwrite(data, 1, length, m_trace) != length || std::fflush(m_trace) != 0) AbandonTraceLocked();
}

void CLinkFiles::AbandonTraceLocked() {
    m_traceRemaining = 0;
    if (m_trace) std::fclose(m_trace);
    m_trace = nullptr;
}

void CLinkFiles::DumpParams(const std::uint8_t* image, std::uint32_t length) {
    std::lock_guard lock(m_lock);
    if (!m_trace) return;
    if (std::fseek(m_trace, 0, SEEK_SET) != 0 || std::fwrite(image, 1, length, m_trace) != length ||
        std::fflush(m_trace) != 0)
        AbandonTraceLocked();
}

bool CLinkFiles::WriteAddressLine(const std::uint8_t* bytes, std::uint8_t length) {
    std::lock_guard lock(m_lock);
    if (!m_address) return false;
    static const std::uint8_t kLineEnd[2] = {'\r', '\n'};
    if (std::fwrite(bytes, 1, length, m_address) != length || std::fwrite(kLineEnd, 1, 2, m_address) != 2 ||
        std::fflush(m_address) != 0) {
        std::fclose(m_address);
        m_address = nullptr;
        return false;
    }
    return true;
}

}  // namespace fdp
