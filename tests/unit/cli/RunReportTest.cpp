#include "tools/cli/RunReport.h"

#include <gtest/gtest.h>

namespace {

using cli::CRunReport;
using cli::JsonString;

TEST(JsonStringTest, EscapesWhatJsonDoesNotAllowAndKeepsUtf8) {
    const struct {
        std::string text;
        std::string json;
    } cases[] = {
        {"plain", "\"plain\""},
        {"say \"hi\"\\", "\"say \\\"hi\\\"\\\\\""},
        {"line\r\nend\t", "\"line\\r\\nend\\t\""},
        {std::string("nul\0bel\x07", 8), "\"nul\\u0000bel\\u0007\""},
        {"连接", "\"连接\""},
    };
    for (const auto& c : cases) EXPECT_EQ(JsonString(c.text), c.json) << c.text;
}

// A run that ends before its operation names the stage by its exit code.
TEST(RunReportTest, StageFollowsTheExitCodeWhenNotSet) {
    const struct {
        int exitCode;
        const char* stage;
    } cases[] = {{0, "done"}, {1, "usage"}, {2, "adapter"}, {3, "files"}, {22, "login"}, {41, "operation"}};
    for (const auto& c : cases) {
        CRunReport report;
        report.SetOperation("erase boot");
        const std::string json = report.Json(c.exitCode);
        EXPECT_NE(json.find(std::string("\"stage\":\"") + c.stage + "\""), std::string::npos) << json;
        EXPECT_NE(json.find("\"exitCode\":" + std::to_string(c.exitCode)), std::string::npos) << json;
    }
}

TEST(RunReportTest, FullReportIsOneLineWithEveryField) {
    CRunReport report;
    report.SetOperation("download boot");
    report.SetAdapter("kv0: Ethernet adapter");
    report.SetTarget("02:4b:56:00:00:02");
    report.SetVersion("boot", "1.2.3.4");
    report.SetFile("/tmp/a \"b\".bin", "ab12");
    report.SetOutcome(CRunReport::StageWord(13), "Burn boot area successfully!", 0);
    const std::string json = report.Json(0);
    EXPECT_EQ(json.find('\n'), std::string::npos);
    EXPECT_EQ(json.rfind("{\"operation\":\"download boot\",\"adapter\":\"kv0: Ethernet adapter\",\"target\":"
                         "\"02:4b:56:00:00:02\",\"versions\":{\"boot\":\"1.2.3.4\"},\"file\":\"/tmp/a \\\"b\\\".bin\","
                         "\"sha256\":\"ab12\",\"stage\":\"burn\",\"result\":\"Burn boot area successfully!\",\"code\":0,"
                         "\"exitCode\":0,\"ok\":true,\"durationMs\":",
                         0),
              0u)
        << json;
}

// The version read back after a burn (null when the target did not answer) and the other
// targets heard; neither appears when there is nothing to say.
TEST(RunReportTest, VersionAfterAndOtherTargets) {
    const struct {
        const char* name;
        std::optional<std::optional<std::string>> versionAfter;   // outer: set at all
        std::vector<std::pair<std::string, std::string>> others;
        std::vector<std::string> present, absent;
    } cases[] = {
        {"nothing", std::nullopt, {}, {}, {"versionAfter", "otherTargets"}},
        {"read", std::optional<std::string>("2.8.3.2"), {}, {"\"versionAfter\":\"2.8.3.2\""}, {"otherTargets"}},
        {"unread", std::optional<std::string>(), {}, {"\"versionAfter\":null"}, {}},
        {"two others", std::nullopt, {{"02:4b:56:00:00:11", "kv0"}, {"02:4b:56:00:00:13", "kvx1"}},
         {"\"otherTargets\":[{\"target\":\"02:4b:56:00:00:11\",\"adapter\":\"kv0\"},"
          "{\"target\":\"02:4b:56:00:00:13\",\"adapter\":\"kvx1\"}]"},
         {"versionAfter"}},
    };
    for (const auto& c : cases) {
        CRunReport report;
        report.SetOperation("download program");
        if (c.versionAfter) report.SetVersionAfter(*c.versionAfter);
        report.SetOtherTargets(c.others);
        const std::string json = report.Json(0);
        for (const auto& text : c.present) EXPECT_NE(json.find(text), std::string::npos) << c.name << ": " << json;
        for (const auto& text : c.absent) EXPECT_EQ(json.find(text), std::string::npos) << c.name << ": " << json;
    }
}

TEST(RunReportTest, StageWordsOfTheLinkSteps) {
    EXPECT_EQ(CRunReport::StageWord(3), "erase");
    EXPECT_EQ(CRunReport::StageWord(33), "burn");
    EXPECT_EQ(CRunReport::StageWord(62), "transfer");
    EXPECT_EQ(CRunReport::StageWord(73), "params");
    EXPECT_EQ(CRunReport::StageWord(83), "trace");
    EXPECT_EQ(CRunReport::StageWord(93), "operation");
}

}  // namespace
