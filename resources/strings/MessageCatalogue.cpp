#include "resources/strings/MessageCatalogue.h"

#include <cstdint>
#include <fstream>
#include <sstream>

namespace res {

namespace {

constexpr std::uint32_t kMagic = 0x950412de;
constexpr std::uint32_t kMagicSwapped = 0xde120495;

// Reads the catalogue's 32-bit words in the byte order its magic number tells.
class Words {
public:
    Words(std::string_view bytes, bool bigEndian) : m_bytes(bytes), m_bigEndian(bigEndian) {}

    std::optional<std::uint32_t> At(std::uint64_t offset) const {
        if (offset > m_bytes.size() || m_bytes.size() - offset < 4) return std::nullopt;
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const auto byte = static_cast<std::uint8_t>(m_bytes[offset + (m_bigEndian ? i : 3 - i)]);
            value = (value << 8) | byte;
        }
        return value;
    }

    // The string a table entry (length, offset) at entry describes; the length stops
    // before the terminating NUL, which must be there too.
    std::optional<std::string_view> String(std::uint64_t entry) const {
        const auto length = At(entry), offset = At(entry + 4);
        if (!length || !offset) return std::nullopt;
        if (*offset > m_bytes.size() || m_bytes.size() - *offset <= *length) return std::nullopt;
        if (m_bytes[*offset + *length] != '\0') return std::nullopt;
        return m_bytes.substr(*offset, *length);
    }

private:
    std::string_view m_bytes;
    bool m_bigEndian;
};

}  // namespace

std::optional<CMessageCatalogue> CMessageCatalogue::Parse(std::string_view bytes) {
    const auto magic = Words(bytes, false).At(0);
    if (!magic || (*magic != kMagic && *magic != kMagicSwapped)) return std::nullopt;
    const Words words(bytes, *magic == kMagicSwapped);
    const auto revision = words.At(4), count = words.At(8), originals = words.At(12), translations = words.At(16);
    if (!revision || !count || !originals || !translations) return std::nullopt;
    // Major revisions other than 0 and 1 may lay the file out differently.
    if ((*revision >> 16) > 1) return std::nullopt;
    CMessageCatalogue catalogue;
    for (std::uint64_t i = 0; i < *count; ++i) {
        const auto original = words.String(*originals + 8 * i);
        const auto translation = words.String(*translations + 8 * i);
        if (!original || !translation) return std::nullopt;
        // The empty key holds the catalogue's header, not a message.
        if (original->empty() || translation->empty()) continue;
        catalogue.m_messages.emplace(*original, *translation);
    }
    return catalogue;
}

std::optional<CMessageCatalogue> CMessageCatalogue::Load(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::ostringstream bytes;
    bytes << file.rdbuf();
    if (file.bad()) return std::nullopt;
    return Parse(bytes.view());
}

const std::string* CMessageCatalogue::Find(std::string_view key) const {
    const auto it = m_messages.find(std::string(key));
    return it == m_messages.end() ? nullptr : &it->second;
}

}  // namespace res
