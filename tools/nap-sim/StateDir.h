// The simulated target's flash areas on disk: one file per area in a folder, so that
// tests can compare what was burnt and a restarted simulator keeps its images.
// Files are replaced atomically: a reader sees the old image or the new one, never
// a part.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
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

private:
    std::string PathOf(std::uint8_t kind) const;
    std::string m_folder;
};

}  // namespace napsim
