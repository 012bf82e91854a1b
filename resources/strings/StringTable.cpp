#include "resources/strings/StringTable.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <span>

#include "resources/strings/MessageCatalogue.h"

namespace res {

// Defined by StringsEn.cpp, sorted by id.
std::span<const StringEntry> EnglishStrings();

namespace {

constexpr std::string_view kDomain = "kelvane";
constexpr std::string_view kChinese = "zh_CN";

struct Loaded {
    std::string name;
    CMessageCatalogue catalogue;
};

// Set at start (and by tests between cases) while other threads may be looking texts up:
// each lookup holds its own reference to the catalogue it reads.
std::mutex g_mutex;
std::shared_ptr<const Loaded> g_loaded;
std::string g_unread;

std::shared_ptr<const Loaded> Current() {
    std::lock_guard lock(g_mutex);
    return g_loaded;
}

const char* FindEnglish(unsigned id) {
    const auto table = EnglishStrings();
    auto it = std::lower_bound(table.begin(), table.end(), id,
                               [](const StringEntry& e, unsigned key) { return e.id < key; });
    return (it != table.end() && it->id == id) ? it->text : nullptr;
}

// <prefix>/share/locale for a program in <prefix>/bin, found from the running program, so
// that an installed program and the build tree find their own catalogues.
std::string LocaleFolder() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path);
    if (n <= 0 || n == sizeof path) return {};
    const std::string exe(path, static_cast<std::size_t>(n));
    const auto slash = exe.rfind('/');
    const auto parent = slash == std::string::npos || slash == 0 ? std::string::npos : exe.rfind('/', slash - 1);
    if (parent == std::string::npos) return {};
    return exe.substr(0, parent) + "/share/locale";
}

// Empty when the program cannot tell where it is: then no catalogue is found.
std::string CataloguePath(std::string_view name) {
    static const std::string folder = LocaleFolder();
    if (folder.empty()) return {};
    return folder + "/" + std::string(name) + "/LC_MESSAGES/" + std::string(kDomain) + ".mo";
}

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

void Use(std::shared_ptr<const Loaded> loaded, std::string unread = {}) {
    std::lock_guard lock(g_mutex);
    g_loaded = std::move(loaded);
    g_unread = std::move(unread);
}

// Loads the catalogue name; false (and English) when it cannot be read.
bool UseCatalogue(std::string_view name) {
    const std::string path = CataloguePath(name);
    auto catalogue = CMessageCatalogue::Load(path);
    if (!catalogue) {
        Use(nullptr, path);
        return false;
    }
    Use(std::make_shared<const Loaded>(Loaded{std::string(name), std::move(*catalogue)}));
    return true;
}

// The names gettext tries for a locale, most specific first: ll_TT.codeset@modifier ...
// ll. Only the first of a LANGUAGE list counts, as it does for Chinese.
std::vector<std::string> CandidateNames(std::string_view locale) {
    locale = locale.substr(0, locale.find(':'));
    std::vector<std::string> names;
    if (locale.empty() || locale == "C" || locale == "POSIX" || locale.starts_with("C.")) return names;
    // Nothing that could climb out of the locale folder.
    if (locale.find('/') != std::string_view::npos || locale.starts_with('.')) return names;
    std::string_view rest = locale;
    names.emplace_back(rest);
    for (const char mark : {'@', '.', '_'}) {
        const auto at = rest.find(mark);
        if (at == std::string_view::npos) continue;
        rest = rest.substr(0, at);
        if (!rest.empty() && names.back() != rest) names.emplace_back(rest);
    }
    return names;
}

}  // namespace

Language LanguageForLocale(std::string_view locale) {
    return locale.substr(0, 2) == "zh" ? Language::Chinese : Language::English;
}

std::string SystemLocale() {
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) return value;
    }
    return {};
}

Language SystemLanguage() { return LanguageForLocale(SystemLocale()); }

bool SetLocale(std::string_view locale) {
    if (LanguageForLocale(locale) == Language::Chinese) return UseCatalogue(kChinese);
    for (const std::string& name : CandidateNames(locale))
        if (Exists(CataloguePath(name))) return UseCatalogue(name);
    Use(nullptr);
    return true;
}

bool UseSystemLanguage() { return SetLocale(SystemLocale()); }

std::string UnreadCatalogue() {
    std::lock_guard lock(g_mutex);
    return g_unread;
}

bool SetLanguage(Language language) {
    if (language == Language::Chinese) return UseCatalogue(kChinese);
    Use(nullptr);
    return true;
}

Language CurrentLanguage() {
    const auto loaded = Current();
    return loaded && loaded->name == kChinese ? Language::Chinese : Language::English;
}

std::string CurrentCatalogue() {
    const auto loaded = Current();
    return loaded ? loaded->name : std::string();
}

std::string LoadString(unsigned id) {
    const char* english = FindEnglish(id);
    if (!english) return {};
    if (const auto loaded = Current()) {
        const std::string key = std::to_string(id) + '\x04' + english;
        if (const std::string* text = loaded->catalogue.Find(key)) return *text;
    }
    return english;
}

std::string Text(std::string_view english) {
    if (const auto loaded = Current())
        if (const std::string* text = loaded->catalogue.Find(english)) return *text;
    return std::string(english);
}

namespace {

std::string Fill(const std::string& text, const std::vector<std::string>& words) {
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

}  // namespace

std::string FormatString(unsigned id, const std::vector<std::string>& words) { return Fill(LoadString(id), words); }

std::string FormatText(std::string_view english, const std::vector<std::string>& words) {
    return Fill(Text(english), words);
}

}  // namespace res
