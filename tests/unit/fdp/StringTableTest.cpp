// Both string tables: sorted (the lookup is a binary search), the same ids, and the
// language chosen from the locale variables.
#include <gtest/gtest.h>

#include <cstdlib>
#include <span>
#include <string>

#include "resources/strings/StringTable.h"

namespace res {
std::span<const StringEntry> EnglishStrings();
std::span<const StringEntry> ChineseStrings();
}  // namespace res

namespace {

TEST(StringTable, BothTablesSortedWithTheSameIds) {
    const auto en = res::EnglishStrings();
    const auto zh = res::ChineseStrings();
    ASSERT_EQ(en.size(), zh.size());
    for (std::size_t i = 0; i < en.size(); ++i) {
        if (i > 0) {
            EXPECT_LT(en[i - 1].id, en[i].id) << "English table not sorted at " << en[i].id;
            EXPECT_LT(zh[i - 1].id, zh[i].id) << "Chinese table not sorted at " << zh[i].id;
        }
        EXPECT_EQ(en[i].id, zh[i].id);
        EXPECT_NE(std::string(en[i].text), "") << en[i].id;
        EXPECT_NE(std::string(zh[i].text), "") << zh[i].id;
    }
}

TEST(StringTable, LooksUpByLanguageAndFallsBackToEmpty) {
    struct Case { res::Language language; unsigned id; const char* text; };
    const Case cases[] = {
        {res::Language::English, 57676, "Listening..."},
        {res::Language::English, 111, "Sorry, the password is not right!  Please press \"Back\"  to try again!"},
        {res::Language::English, 1, "Back step"},
        {res::Language::Chinese, 1021, "状态信息"},
        {res::Language::Chinese, 57767, "--------------包的丢失率为："},
        {res::Language::English, 4242, ""},
        {res::Language::Chinese, 4242, ""},
    };
    for (const Case& c : cases) {
        res::SetLanguage(c.language);
        EXPECT_EQ(res::LoadString(c.id), c.text) << c.id;
    }
    res::SetLanguage(res::Language::English);
}

TEST(StringTable, LanguageFromLocaleName) {
    EXPECT_EQ(res::LanguageForLocale("zh_CN.UTF-8"), res::Language::Chinese);
    EXPECT_EQ(res::LanguageForLocale("zh_TW"), res::Language::Chinese);
    EXPECT_EQ(res::LanguageForLocale("en_US.UTF-8"), res::Language::English);
    EXPECT_EQ(res::LanguageForLocale("C"), res::Language::English);
    EXPECT_EQ(res::LanguageForLocale(""), res::Language::English);
}

}  // namespace
