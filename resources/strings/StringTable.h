// The program's texts in the user's language. The English texts live in the code (the
// numbered ones in the English table, keyed by the system's numeric string ids; the
// others where they are used); every other language comes from its gettext catalogue,
// share/locale/<language>/LC_MESSAGES/kelvane.mo beside the program's bin folder (the
// build tree has the same layout). A text the catalogue lacks stays English.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace res {

enum class Language { English, Chinese };

// The language for a locale name such as "zh_CN.UTF-8"; English for anything not Chinese.
Language LanguageForLocale(std::string_view locale);

// The first of LANGUAGE, LC_ALL, LC_MESSAGES and LANG that is set and not empty, as the
// C library reads them; empty when none is.
std::string SystemLocale();
Language SystemLanguage();

// Chinese (the zh_CN catalogue) for every Chinese locale; for any other, the catalogue
// named by the locale (de_DE.UTF-8: de_DE.UTF-8, de_DE, then de) or none: English.
// Returns false when the catalogue the locale needs is named but cannot be read.
bool SetLocale(std::string_view locale);
// SetLocale(SystemLocale()).
bool UseSystemLanguage();
// The catalogue file the last SetLocale or SetLanguage could not read; empty when it read
// what it needed.
std::string UnreadCatalogue();
// English, or the Chinese catalogue.
bool SetLanguage(Language language);
// Chinese while the Chinese catalogue is in use, else English.
Language CurrentLanguage();
// The name of the catalogue in use ("zh_CN", "de" ...); empty for English.
std::string CurrentCatalogue();

// The text of id in the current language (UTF-8); the English text when the catalogue
// lacks it; empty when the id has no text.
std::string LoadString(unsigned id);

// The translation of an English text that has no number; the text itself when the
// catalogue lacks it.
std::string Text(std::string_view english);

// LoadString(id) with %1 ... %9 replaced by the words given, in one pass: a word that
// itself contains "%2" is not replaced again. A number without a word stays as it is.
std::string FormatString(unsigned id, const std::vector<std::string>& words);
// The same for a text without a number: Text(english) with its places filled.
std::string FormatText(std::string_view english, const std::vector<std::string>& words);

struct StringEntry {
    unsigned id;
    const char* text;
};

}  // namespace res
