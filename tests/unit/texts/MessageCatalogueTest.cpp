// The compiled catalogue comes from a file: a catalogue that points outside itself is
// refused whole, never read past. And the language a locale gets.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "resources/strings/MessageCatalogue.h"
#include "resources/strings/StringTable.h"

namespace {

// A catalogue laid out as msgfmt lays it out: header of seven words, the table of keys,
// the table of translations (length, offset each), then the strings with their NULs.
std::string Catalogue(const std::vector<std::pair<std::string, std::string>>& messages, bool bigEndian = false) {
    std::string out;
    const auto word = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out += static_cast<char>(v >> (bigEndian ? 24 - 8 * i : 8 * i));
    };
    const auto n = static_cast<std::uint32_t>(messages.size());
    word(0x950412de);
    word(0);
    word(n);
    word(28);
    word(28 + 8 * n);
    word(0);
    word(0);
    std::string strings;
    const std::uint32_t base = 28 + 16 * n;
    std::vector<std::uint32_t> keys, texts;
    for (const auto& [key, text] : messages) {
        keys.push_back(base + static_cast<std::uint32_t>(strings.size()));
        strings += key + '\0';
    }
    for (const auto& [key, text] : messages) {
        texts.push_back(base + static_cast<std::uint32_t>(strings.size()));
        strings += text + '\0';
    }
    for (std::uint32_t i = 0; i < n; ++i) word(static_cast<std::uint32_t>(messages[i].first.size())), word(keys[i]);
    for (std::uint32_t i = 0; i < n; ++i) word(static_cast<std::uint32_t>(messages[i].second.size())), word(texts[i]);
    return out + strings;
}

const std::vector<std::pair<std::string, std::string>> kMessages = {
    {"", "Content-Type: text/plain; charset=UTF-8\n"},
    {std::string("57730\x04") + "Download stopped", "下载已停止"},
    {"Cancel", "取消"},
};

TEST(MessageCatalogue, ReadsBothByteOrders) {
    for (const bool bigEndian : {false, true}) {
        const auto catalogue = res::CMessageCatalogue::Parse(Catalogue(kMessages, bigEndian));
        ASSERT_TRUE(catalogue) << bigEndian;
        ASSERT_TRUE(catalogue->Find("Cancel"));
        EXPECT_EQ(*catalogue->Find("Cancel"), "取消");
        ASSERT_TRUE(catalogue->Find(std::string("57730\x04") + "Download stopped"));
        EXPECT_EQ(*catalogue->Find(std::string("57730\x04") + "Download stopped"), "下载已停止");
        // The key without its context is another message; the header is none.
        EXPECT_FALSE(catalogue->Find("Download stopped"));
        EXPECT_FALSE(catalogue->Find(""));
    }
}

TEST(MessageCatalogue, RefusesWhatPointsOutsideItself) {
    const std::string good = Catalogue(kMessages);
    const auto patched = [&](std::size_t at, std::uint32_t value) {
        std::string bytes = good;
        for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
        return bytes;
    };
    struct Case { const char* what; std::string bytes; };
    const Case cases[] = {
        {"nothing", ""},
        {"not a catalogue", std::string(40, 'x')},
        {"header cut short", good.substr(0, 20)},
        {"strings cut off", good.substr(0, good.size() - 3)},
        {"a newer major revision", patched(4, 0x20000)},
        {"more messages than tables", patched(8, 0x10000000)},
        {"key table past the end", patched(12, 0xfffffff0)},
        {"translation table past the end", patched(16, static_cast<std::uint32_t>(good.size()))},
        {"a key's offset past the end", patched(28 + 8 + 4, 0xffffffff)},
        {"a key's length past the end", patched(28 + 8, 0xfffffffe)},
        {"a key without its NUL", patched(28 + 8, 3)},
    };
    for (const Case& c : cases) EXPECT_FALSE(res::CMessageCatalogue::Parse(c.bytes)) << c.what;
}

TEST(MessageCatalogue, MissingFileIsNoCatalogue) {
    EXPECT_FALSE(res::CMessageCatalogue::Load("/nonexistent/kelvane.mo"));
    EXPECT_FALSE(res::CMessageCatalogue::Load("/"));
}

// Chinese for every Chinese locale; any other locale gets its own catalogue when there is
// one (the build has none but Chinese), else English. A locale name never reaches
// outside the locale folder.
TEST(MessageCatalogue, LanguageOfALocale) {
    struct Case { const char* locale; const char* catalogue; };
    const Case cases[] = {
        {"zh_CN.UTF-8", "zh_CN"}, {"zh_TW.Big5", "zh_CN"}, {"zh", "zh_CN"}, {"zh_SG:en", "zh_CN"},
        {"de_DE.UTF-8", ""},      {"en_US.UTF-8", ""},     {"C", ""},      {"C.UTF-8", ""},
        {"", ""},                 {"../zh_CN", ""},        {"en:zh_CN", ""},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(res::SetLocale(c.locale)) << c.locale;
        EXPECT_EQ(res::CurrentCatalogue(), c.catalogue) << c.locale;
        EXPECT_EQ(res::CurrentLanguage(), *c.catalogue ? res::Language::Chinese : res::Language::English) << c.locale;
    }
    res::SetLanguage(res::Language::English);
}

}  // namespace
