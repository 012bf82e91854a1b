// The English table: sorted (the lookup is a binary search); the Chinese texts from the
// catalogue; the language chosen from the locale variables.
#include <gtest/gtest.h>

#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "resources/strings/StringTable.h"

namespace res {
std::span<const StringEntry> EnglishStrings();
}  // namespace res

namespace {

// The English table is searched by halves, and its texts are the keys of the translations.
TEST(StringTable, EnglishTableSortedAndNeverEmpty) {
    const auto en = res::EnglishStrings();
    for (std::size_t i = 0; i < en.size(); ++i) {
        if (i > 0) {
            EXPECT_LT(en[i - 1].id, en[i].id) << "English table not sorted at " << en[i].id;
        }
        EXPECT_NE(std::string(en[i].text), "") << en[i].id;
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

// The Chinese wording of the texts translated here (the system gives the others): the
// wizard's own terms (修改 for name and password, 配置注册参数 as the page title) and
// plain, polite status lines; line breaks and blanks as in the English.
TEST(StringTable, ChineseWordingOfOurTranslations) {
    struct Case { unsigned id; const char* text; };
    const Case cases[] = {
        {57680, "正在提交下载操作，请稍候！"},
        {57743, "============未执行任何操作！=============\r\n "},
        {57746, "=正在诊断UART、RAM、MAC、FLASH...，请稍候...=\r\n"},
        {57749, "------------UART检测失败！\r\n"},
        {57751, "------------MAC检测失败！\r\n"},
        {57753, "------------RAM检测失败！\r\n"},
        {57755, "------------FLASH检测失败！\r\n"},
        {57757, "------------TIMER检测失败！\r\n"},
        {57759, "------------蓝牙模块检测失败！\r\n"},
        {57786, "     =========配置注册参数=========\r\n"},
    };
    res::SetLanguage(res::Language::Chinese);
    for (const Case& c : cases) EXPECT_EQ(res::LoadString(c.id), c.text) << c.id;
    const std::string welcome = res::LoadString(3102);
    EXPECT_NE(welcome.find("3. 修改名称和密码，或配置IP，\r\n"), std::string::npos) << welcome;
    res::SetLanguage(res::Language::English);
}

// Words come from outside (interface names, paths): each fills its place once and is
// never read as a place itself.
TEST(StringTable, FormatFillsEachPlaceOnce) {
    struct Case { unsigned id; std::vector<std::string> words; const char* text; };
    const Case cases[] = {
        {61005, {"kv0"}, "The interface kv0 is down: bring it up with: sudo ip link set kv0 up"},
        {61007, {"eth%2", "%1 gone"}, "Cannot open eth%2: %1 gone"},
        {61007, {"eth0"}, "Cannot open eth0: %2"},
        {61002, {"kv0", "/opt/my tools/kelvane"}, "Opening kv0 needs the right to send and capture raw frames. "
                  "Give the program that right for good with this command, or run it as root: "
                  "sudo setcap cap_net_raw+ep \"/opt/my tools/kelvane\""},
    };
    for (const Case& c : cases) EXPECT_EQ(res::FormatString(c.id, c.words), c.text) << c.id;
    res::SetLanguage(res::Language::Chinese);
    EXPECT_EQ(res::FormatString(61001, {"kv9"}), "没有名为 kv9 的以太网接口。");
    // The remedy is a command a technician pastes as it stands.
    EXPECT_EQ(res::FormatString(61005, {"kv0"}), "接口 kv0 未启用，请用以下命令启用：sudo ip link set kv0 up");
    EXPECT_EQ(res::FormatString(61008, {"kv0", "权限不够"}), "无法在 kv0 上准备捕获设备的数据帧：权限不够");
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
