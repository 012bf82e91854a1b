#include "tools/cli/RunReport.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace {

using cli::CRunReport;

// Whatever the names hold (a file name may hold any bytes, an adapter's name comes from
// the system), the report is one line that a strict JSON reader takes, with the
// documented members and their kinds.
TEST(RunReportTest, ReportIsValidJsonWhateverTheNamesHold) {
    const struct {
        const char* name;
        std::string text;   // as file, adapter and result
        std::string read;   // what a reader gets back
    } cases[] = {
        {"plain", "kv0", "kv0"},
        {"quotes and backslashes", "say \"hi\"\\", "say \"hi\"\\"},
        {"line ends and tabs", "line\r\nend\t", "line\r\nend\t"},
        {"control characters", std::string("nul\0bel\x07", 8), std::string("nul\0bel\x07", 8)},
        {"chinese", "连接", "连接"},
        {"bytes that are no UTF-8", "a\xff\xc0\xaf", "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) {
        CRunReport report;
        report.SetOperation("download program");
        report.SetAdapter(c.text);
        report.SetTarget("02:4b:56:00:00:02");
        report.SetVersion("program", "2.7.0.1");
        report.SetVersionAfter(std::nullopt);
        report.SetOtherTargets({{"02:4b:56:00:00:11", c.text}});
        const auto now = std::chrono::steady_clock::now();
        fdp::HeardTarget heard;
        heard.address = {0x02, 0x4b, 0x56, 0x00, 0x00, 0x12};
        heard.adapter = c.text;
        heard.announces = 3;
        heard.lastSeen = now - std::chrono::milliseconds(1500);
        report.SetHeardTargets({heard}, now);
        report.SetFile(c.text, "ab12");
        report.SetOutcome(CRunReport::StageWord(fdp::Stage::FromNumber(33)), c.text, 0);
        std::string json;
        ASSERT_NO_THROW(json = report.Json(0)) << c.name;
        EXPECT_EQ(json.find('\n'), std::string::npos) << c.name;
        const auto object = nlohmann::json::parse(json, nullptr, false);
        ASSERT_TRUE(object.is_object()) << c.name << ": " << json;
        for (const char* member : {"adapter", "file", "result"}) {
            ASSERT_TRUE(object.contains(member) && object[member].is_string()) << c.name << ": " << member;
            EXPECT_EQ(object[member].get<std::string>(), c.read) << c.name << ": " << member;
        }
        EXPECT_EQ(object["otherTargets"][0]["adapter"], c.read) << c.name;
        EXPECT_EQ(object["targets"][0]["target"], "02:4b:56:00:00:12");
        EXPECT_EQ(object["targets"][0]["adapter"], c.read) << c.name;
        EXPECT_EQ(object["targets"][0]["announces"], 3);
        EXPECT_EQ(object["targets"][0]["lastSeenMsAgo"], 1500);
        EXPECT_EQ(object["operation"], "download program");
        EXPECT_EQ(object["target"], "02:4b:56:00:00:02");
        EXPECT_EQ(object["versions"]["program"], "2.7.0.1");
        EXPECT_TRUE(object["versionAfter"].is_null());
        EXPECT_EQ(object["sha256"], "ab12");
        EXPECT_EQ(object["stage"], "burn");
        EXPECT_EQ(object["code"], 0);
        EXPECT_EQ(object["exitCode"], 0);
        EXPECT_EQ(object["ok"], true);
        EXPECT_TRUE(object["durationMs"].is_number_integer() && object["durationMs"] >= 0);
    }
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
    report.SetOutcome(CRunReport::StageWord(fdp::Stage::FromNumber(13)), "Burn boot area successfully!", 0);
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
    EXPECT_EQ(CRunReport::StageWord(fdp::Stage::FromNumber(3)), "erase");
    EXPECT_EQ(CRunReport::StageWord(fdp::Stage::FromNumber(33)), "burn");
    EXPECT_EQ(CRunReport::StageWord(fdp::Stage::FromNumber(62)), "transfer");
    EXPECT_EQ(CRunReport::StageWord(fdp::Stage::FromNumber(73)), "params");
    EXPECT_EQ(CRunReport::StageWord(fdp::Stage::FromNumber(83)), "trace");
    EXPECT_EQ(CRunReport::StageWord(fdp::Stage::FromNumber(93)), "operation");
}

}  // namespace
