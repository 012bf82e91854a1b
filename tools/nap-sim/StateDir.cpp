#include "tools/nap-sim/StateDir.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace napsim {

std::string CStateDir::FileName(std::uint8_t kind) {
    switch (kind) {
    case 1: return "boot.bin";
    case 3: return "program.bin";
    case 5: return "param.bin";
    default: return {};
    }
}

std::string CStateDir::PathOf(std::uint8_t kind) const {
    const std::string name = FileName(kind);
    if (m_folder.empty() || name.empty()) return {};
    return m_folder + "/" + name;
}

std::optional<std::vector<std::uint8_t>> CStateDir::Load(std::uint8_t kind) const {
    const std::string path = PathOf(kind);
    if (path.empty()) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool CStateDir::Store(std::uint8_t kind, std::span<const std::uint8_t> image) const {
    const std::string path = PathOf(kind);
    return !path.empty() && Replace(path, image, 0644);
}

std::optional<std::string> CStateDir::LoadPassword() const {
    if (m_folder.empty()) return std::nullopt;
    std::ifstream in(m_folder + "/password", std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool CStateDir::StorePassword(std::string_view password) const {
    if (m_folder.empty()) return false;
    // Readable by its owner only, as a login password should be.
    return Replace(m_folder + "/password",
                   std::span(reinterpret_cast<const std::uint8_t*>(password.data()), password.size()), 0600);
}

bool CStateDir::Replace(const std::string& path, std::span<const std::uint8_t> bytes, mode_t mode) const {
    std::error_code error;
    std::filesystem::create_directories(m_folder, error);
    const std::string temporary = path + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0) return false;
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
    const bool ok = written == bytes.size() && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

void CStateDir::Remove(std::uint8_t kind) const {
    const std::string path = PathOf(kind);
    if (!path.empty()) std::remove(path.c_str());
}

}  // namespace napsim
