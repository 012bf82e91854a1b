// The simulated target's flash on disk: one file per area in a folder, so that tests
// can compare what was burnt and a restarted simulator keeps its images, and the login
// password the target adopted ("password"), which it keeps until another burnt block
// changes it, whatever later blocks carry.
// Files are replaced atomically: a reader sees the old image or the new one, never
// a part.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace napsim {

class CStateDir {
public:
    explicit CStateDir(std::string folder) : m_folder(std::move(folder)) {}

    // "boot.bin", "program.bin", "param.bin"; empty for any other kind.
    static std::string FileName(std::uint8_t kind);

    bool Enabled() const { return !m_folder.empty(); }
    std::optional<std::vector<std::uint8_t>> Load(std::uint8_t kind) const;
    // Writes a temporary file beside the image, flushes it and renames it over the image.
    bool Store(std::uint8_t kind, std::span<const std::uint8_t> image) const;
    void Remove(std::uint8_t kind) const;
    // The adopted login password; nothing while the target has not adopted one.
    std::optional<std::string> LoadPassword() const;
    bool StorePassword(std::string_view password) const;

private:
    std::string PathOf(std::uint8_t kind) const;
    bool Replace(const std::string& path, std::span<const std::uint8_t> bytes, mode_t mode) const;
    std::string m_folder;
};

}  // namespace napsim
