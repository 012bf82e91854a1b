// What kelvane-cli says the target was left doing when Ctrl-C stops a run: the step
// decides the advice (an erase leaves the area empty, a burn an unknown outcome), the
// area is named, and a Chinese locale gets it in Chinese like the rest of the tool.
#include <gtest/gtest.h>

#include <string>

#include "resources/strings/StringTable.h"
#include "tools/cli/CliLink.h"

namespace {

using cli::Stopped;

struct StoppedCase {
    const char* name;
    res::Language language;
    Stopped during;
    const char* step;
    std::uint8_t kind;   // the area's command code: 1 boot, 3 program, 5 parameter
    const char* text;
};

void PrintTo(const StoppedCase& c, std::ostream* out) { *out << c.name; }

class StoppedTextTest : public testing::TestWithParam<StoppedCase> {
protected:
    void TearDown() override { res::SetLanguage(res::Language::English); }
};

TEST_P(StoppedTextTest, SaysWhatTheTargetWasLeftDoing) {
    const StoppedCase& c = GetParam();
    res::SetLanguage(c.language);
    EXPECT_EQ(cli::StoppedText(c.during, c.step, c.kind), c.text);
}

constexpr auto kEn = res::Language::English;
constexpr auto kZh = res::Language::Chinese;

INSTANTIATE_TEST_SUITE_P(
    Steps, StoppedTextTest,
    testing::Values(
        StoppedCase{"Listening", kEn, Stopped::Listening, "transfer", 1, "no target was connected, nothing was sent"},
        StoppedCase{"Transfer", kEn, Stopped::Download, "transfer", 3,
                    "stopped during the transfer: the target's program area is unchanged"},
        StoppedCase{"EraseOfTheBootArea", kEn, Stopped::Erase, "erase", 1,
                    "stopped while the target erases its boot area: it finishes the erase by itself and the area is "
                    "then empty; download the boot area again before the target restarts"},
        StoppedCase{"BurnOfTheParameterArea", kEn, Stopped::Download, "burn", 5,
                    "stopped while the target burns its parameter area: it finishes the burn by itself, but whether "
                    "it succeeded is unknown; check it or download the parameter area again before the target "
                    "restarts"},
        StoppedCase{"Request", kEn, Stopped::Request, "transfer", 0,
                    "stopped before the target's answer; its flash is unchanged"},
        StoppedCase{"ChineseErase", kZh, Stopped::Erase, "erase", 3,
                    "在设备擦除固件程序区时停止：设备会自行完成擦除，之后该区为空；请在设备重启前再次下载固件程序区"},
        StoppedCase{"ChineseListening", kZh, Stopped::Listening, "transfer", 1, "没有连接设备，什么也没有发送"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
