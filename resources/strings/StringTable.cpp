#include "resources/strings/StringTable.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <span>

namespace res {

// Defined by StringsEn.cpp and StringsZh.cpp, sorted by id.
std::span<const StringEntry> EnglishStrings();
std::span<const StringEntry> ChineseStrings();

namespace {

std::atomic<Language> g_language{Language::English};

const char* Find(std::span<const StringEntry> table, unsigned id) {
    auto it = std::lower_bound(table.begin(), table.end(), id,
                               [](const StringEntry& e, unsigned key) { return e.id < key; });
    return (it != table.end() && it->id == id) ? it->text : nullptr;
}

}  // namespace

Language LanguageForLocale(std::string_view locale) {
    return locale.substr(0, 2) == "zh" ? Language::Chinese : Language::English;
}

Language SystemLanguage() {
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) return LanguageForLocale(value);
    }
    return Language::English;
}

void SetLanguage(Language language) { g_language = language; }
Language CurrentLanguage() { return g_language; }

std::string LoadString(unsigned id) {
    const char* text = nullptr;
    if (g_language == Language::Chinese) text = Find(ChineseStrings(), id);
    if (!text) text = Find(EnglishStrings(), id);
    return text ? std::string(text) : std::string();
}

std::string FormatString(unsigned id, const std::vector<std::string>& words) {
    const std::string text = LoadString(id);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        const std::size_t word = static_cast<std::size_t>(next - '1');
        if (text[i] == '%' && next >= '1' && next <= '9' && word < words.size()) {
            out += words[word];
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace res
