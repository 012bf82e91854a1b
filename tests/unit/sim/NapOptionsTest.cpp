#include <gtest/gtest.h>

#include "tools/nap-sim/NapOptions.h"

namespace napsim {
namespace {

TEST(NapOptionsTest, TakesEveryKnob) {
    NapOptions o;
    std::string error;
    ASSERT_TRUE(ParseNapOptions({"--interface", "kv1", "--password=secret", "--announce-ms", "250",
                                 "--reannounce-ms", "0", "--login-status", "9", "--drop-first-send", "2,5",
                                 "--drop-first-send", "7", "--silence-after-block", "3", "--start-status", "1",
                                 "--block-status", "4:6", "--erase-status", "0x10", "--burn-status", "2",
                                 "--status-code", "4", "--erase-delay-ms", "100", "--burn-delay-ms", "200",
                                 "--boot-version", "1.2.3.4", "--program-version", "0xFFFFFFFF",
                                 "--diagnose", "0x2d", "--test-mode-status", "1", "--state", "/tmp/s",
                                 "--log", "/tmp/l", "--trace-file", "/tmp/t", "--challenge", "0x1234",
                                 "--bt", "unix:/tmp/bt-server-bredr", "--bt-radio", "off", "--bt-withhold", "50",
                                 "--version-after-burn", "old"},
                                o, error))
        << error;
    const NapConfig& c = o.config;
    EXPECT_EQ(o.interfaceName, "kv1");
    EXPECT_EQ(c.password, "secret");
    EXPECT_EQ(o.announceMs, 250u);
    EXPECT_EQ(o.reannounceMs, 0u);
    EXPECT_EQ(c.loginStatus, 9);
    EXPECT_EQ(c.dropFirstSend, (std::set<std::uint32_t>{2, 5, 7}));
    EXPECT_EQ(c.silenceAfterBlock, 3u);
    EXPECT_EQ(c.startStatus, 1);
    EXPECT_EQ(c.blockStatus.at(4), 6);
    EXPECT_EQ(c.eraseStatus, 0x10);
    EXPECT_EQ(c.burnStatus, 2);
    EXPECT_EQ(c.statusCode, 4);
    EXPECT_EQ(c.eraseDelayMs, 100u);
    EXPECT_EQ(c.burnDelayMs, 200u);
    EXPECT_EQ(c.bootVersion, 0x01020304u);
    EXPECT_EQ(c.programVersion, 0xFFFFFFFFu);
    EXPECT_EQ(c.diagnose, 0x2d);
    EXPECT_EQ(c.testModeStatus, 1);
    EXPECT_EQ(c.stateDir, "/tmp/s");
    EXPECT_EQ(o.logPath, "/tmp/l");
    EXPECT_EQ(o.traceFile, "/tmp/t");
    EXPECT_EQ(c.challenge, 0x1234u);
    EXPECT_EQ(o.btDevice, "unix:/tmp/bt-server-bredr");
    EXPECT_FALSE(o.btRadioOn);
    EXPECT_EQ(o.btWithhold, 50u);
    EXPECT_TRUE(c.keepVersion);
}

TEST(NapOptionsTest, RefusesBadInput) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--password", "x"},
        {"--interface"},
        {"--interface", "kv1", "--bogus", "1"},
        {"--interface", "kv1", "--login-status", "256"},
        {"--interface", "kv1", "--login-status", "-1"},
        {"--interface", "kv1", "--status-code", "3"},
        {"--interface", "kv1", "--bt-radio", "maybe"},
        {"--interface", "kv1", "--bt-withhold", "-5"},
        {"--interface", "kv1", "--block-status", "4"},
        {"--interface", "kv1", "--block-status", "0:1"},
        {"--interface", "kv1", "--drop-first-send", "2,x"},
        {"--interface", "kv1", "--boot-version", "1.2.3"},
        {"--interface", "kv1", "--boot-version", "1.2.3.256"},
        {"--interface", "kv1", "--announce-ms", "0"},
        {"--interface", "kv1", "--erase-delay-ms", "12ms"},
        {"--interface", "kv1", "--version-after-burn", "older"},
    };
    for (const auto& args : cases) {
        NapOptions o;
        std::string error;
        EXPECT_FALSE(ParseNapOptions(args, o, error)) << (args.empty() ? "" : args.back());
        EXPECT_FALSE(error.empty());
    }
}

// Every number option, given each kind of number none of them takes, is refused with a
// message that names it (the program then prints its usage and ends with 1). A value
// that holds two numbers is tried with the bad one in each place.
TEST(NapOptionsTest, RefusesEveryBadNumber) {
    const std::vector<std::string> options = {
        "--announce-ms",       "--reannounce-ms",  "--challenge",        "--bt-withhold",   "--login-status",
        "--silence-after-block", "--start-status", "--fault-downloads",  "--erase-status",  "--burn-status",
        "--status-code",       "--erase-delay-ms", "--burn-delay-ms",    "--boot-version",  "--program-version",
        "--diagnose",          "--test-mode-status", "--transfer-status"};
    const std::vector<std::string> bad = {"18446744073709551616", "-1", "1e3", "", "+1", " 1", "0x"};
    std::vector<std::pair<std::string, std::string>> cases;
    for (const auto& option : options)
        for (const auto& value : bad) cases.emplace_back(option, value);
    for (const auto& value : bad) {
        cases.emplace_back("--drop-first-send", value);
        cases.emplace_back("--drop-first-send", "2," + value);
        cases.emplace_back("--block-status", value + ":1");
        cases.emplace_back("--block-status", "1:" + value);
        cases.emplace_back("--boot-version", "1.2." + value + ".4");
    }
    for (const auto& [option, value] : cases) {
        NapOptions o;
        std::string error;
        EXPECT_FALSE(ParseNapOptions({"--interface", "kv1", option, value}, o, error)) << option << " \"" << value << '"';
        EXPECT_NE(error.find(option), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace napsim
