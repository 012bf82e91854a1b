// UTF-8 pieces shared by the readers and writers of the program's text files. Header
// only and free of Qt, so that every core library can use them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace fdp {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

inline void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The bytes from text[at] that make one UTF-8 sequence: its whole length when it is
// well-formed (wellFormed set), else the longest piece that could begin one, at least one
// byte. Well-formed is what JSON readers take: no overlong forms, no surrogates, nothing
// past U+10FFFF.
inline std::size_t Utf8Sequence(std::string_view text, std::size_t at, bool& wellFormed) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(at);
    wellFormed = lead < 0x80;
    if (wellFormed) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;   // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;    // overlong below
        if (lead == 0xED) high = 0x9F;   // surrogates above
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;    // overlong below
        if (lead == 0xF4) high = 0x8F;   // past U+10FFFF above
    } else {
        return 1;
    }
    std::size_t k = 1;
    for (; k < length && at + k < text.size(); ++k) {
        const unsigned char next = byte(at + k);
        if (k == 1 ? next < low || next > high : (next & 0xC0) != 0x80) break;
    }
    wellFormed = k == length;
    return k;
}

// The text with each ill-formed piece replaced by U+FFFD, the way JSON writers replace
// them; well-formed text comes back unchanged.
inline std::string ReplaceIllFormedUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        bool wellFormed = false;
        const std::size_t length = Utf8Sequence(text, at, wellFormed);
        if (wellFormed) out.append(text.substr(at, length));
        else AppendUtf8(out, kReplacementCharacter);
        at += length;
    }
    return out;
}

// Whether the text is well-formed UTF-8 throughout.
inline bool IsWellFormedUtf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        bool wellFormed = false;
        at += Utf8Sequence(text, at, wellFormed);
        if (!wellFormed) return false;
    }
    return true;
}

}  // namespace fdp
