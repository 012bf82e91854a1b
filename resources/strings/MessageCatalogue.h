// One language's translations, read from a compiled gettext catalogue (a .mo file, as
// msgfmt writes it). Keys are the English texts; a numbered text's key is its number,
// the byte 0x04 and its English text, as gettext keys a message with a context.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace res {

class CMessageCatalogue {
public:
    // The catalogue in bytes; nullopt when they are not a catalogue or point outside
    // themselves. Untranslated messages are left out (their lookups give nothing).
    static std::optional<CMessageCatalogue> Parse(std::string_view bytes);
    // The catalogue in file path; nullopt when it cannot be read or parsed.
    static std::optional<CMessageCatalogue> Load(const std::string& path);

    // The translation of key; nullptr when the catalogue has none. Valid as long as the
    // catalogue is.
    const std::string* Find(std::string_view key) const;

private:
    std::unordered_map<std::string, std::string> m_messages;
};

}  // namespace res
