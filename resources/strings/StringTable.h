// The program's texts, keyed by the system's numeric string ids. Two tables with the
// same ids, English and Chinese; the language follows the system locale.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace res {

enum class Language { English, Chinese };

// The language for a locale name such as "zh_CN.UTF-8"; English for anything not Chinese.
Language LanguageForLocale(std::string_view locale);

// Reads LANGUAGE, LC_ALL, LC_MESSAGES and LANG in that order, as the C library does.
Language SystemLanguage();

void SetLanguage(Language language);
Language CurrentLanguage();

// The text of id in the current language (UTF-8); the English text when the current
// table lacks it; empty when neither has it.
std::string LoadString(unsigned id);

// LoadString(id) with %1 ... %9 replaced by the words given, in one pass: a word that
// itself contains "%2" is not replaced again. A number without a word stays as it is.
std::string FormatString(unsigned id, const std::vector<std::string>& words);

struct StringEntry {
    unsigned id;
    const char* text;
};

}  // namespace res
