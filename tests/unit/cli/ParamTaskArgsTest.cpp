#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fdp/param/ParamStore.h"
#include "fdp/param/StandardBlock.h"
#include "tests/unit/param/ScratchDir.h"
#include "tools/cli/ParamTaskArgs.h"

namespace cli {
namespace {

using Args = std::vector<std::string>;
using param::Ipv4;

TEST(ParamTaskArgsTest, RefusesWhatTheTargetWouldNotTake) {
    struct Case { Args args; const char* reason; };
    const Case cases[] = {
        {{"set-name-password", "NAP", std::string(17, 'p')}, "the password has 17 bytes; the target takes at most 16"},
        {{"set-name-password", std::string(65, 'n'), "p"}, "the name has 65 bytes"},
        {{"set-name-password", "NAP"}, "takes NAME and PASSWORD"},
        {{"set-network", "192.168.0.256/24,192.168.0.1,8.8.8.8"}, "the IP address \"192.168.0.256\" is no IPv4"},
        {{"set-network", "192.168.0.2/24,192.168.0.1,8.8.8"}, "the DNS server"},
        {{"set-network", "192.168.0.2/33,192.168.0.1,8.8.8.8"}, "prefix length of 0-32"},
        {{"set-network", "192.168.0.2/255.0.300.0,192.168.0.1,8.8.8.8"}, "the subnet mask"},
        {{"set-network", "192.168.0.2,192.168.0.1,8.8.8.8"}, "hub, auto or IP/MASK,GATEWAY,DNS"},
        {{"set-network", "router"}, "hub, auto or IP/MASK,GATEWAY,DNS"},
        {{"set-register", "a", "b", "c", "d", std::string(33, '9')}, "the PSTN number has 33 bytes"},
        {{"set-register", "a", "b", std::string(65, 'r'), "d", "e"}, "the register address has 65 bytes"},
        {{"set-register", "a", "b", "c", "d"}, "takes ACCESS DEREG ADDR RINGLET PSTN"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(ParseParamTask(c.args, error).has_value()) << c.args[1];
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
}

TEST(ParamTaskArgsTest, ReadsTheNetworkChoices) {
    struct Case { const char* text; param::NetworkMode mode; Ipv4 address, mask, gateway, dns; };
    const Case cases[] = {
        {"hub", param::NetworkMode::Hub, {}, {}, {}, {}},
        {"auto", param::NetworkMode::RouterAutomatic, {}, {}, {}, {}},
        {"192.168.1.20/24,192.168.1.1,8.8.4.4", param::NetworkMode::RouterManual, {192, 168, 1, 20}, {255, 255, 255, 0},
         {192, 168, 1, 1}, {8, 8, 4, 4}},
        {"10.0.0.2/255.255.240.0,10.0.0.1,10.0.0.53", param::NetworkMode::RouterManual, {10, 0, 0, 2},
         {255, 255, 240, 0}, {10, 0, 0, 1}, {10, 0, 0, 53}},
        {"10.0.0.2/0,10.0.0.1,10.0.0.53", param::NetworkMode::RouterManual, {10, 0, 0, 2}, {0, 0, 0, 0},
         {10, 0, 0, 1}, {10, 0, 0, 53}},
    };
    for (const Case& c : cases) {
        std::string error;
        const auto request = ParseParamTask({"set-network", c.text}, error);
        ASSERT_TRUE(request) << c.text << ": " << error;
        EXPECT_EQ(request->network.mode, c.mode);
        if (c.mode != param::NetworkMode::RouterManual) continue;
        EXPECT_EQ(request->network.address, c.address);
        EXPECT_EQ(request->network.subnetMask, c.mask);
        EXPECT_EQ(request->network.gateway, c.gateway);
        EXPECT_EQ(request->network.dns, c.dns);
    }
}

TEST(ParamTaskArgsTest, BuildsTheWorkingFileAsThePageDoes) {
    kelvane_test::ScratchDir dir;
    std::string error;
    const auto request = ParseParamTask({"set-name-password", "Shop NAP", std::string(16, 'p')}, error);
    ASSERT_TRUE(request) << error;
    EXPECT_FALSE(BuildParamFile(*request, dir / "", error));   // no param.jdp yet
    EXPECT_NE(error.find("param.jdp"), std::string::npos);

    const param::ParamBlock standard = param::MakeStandardBlock();
    kelvane_test::WriteFile(dir / "param.jdp", std::vector<std::uint8_t>(standard.bytes.begin(), standard.bytes.end()));
    ASSERT_TRUE(BuildParamFile(*request, dir / "", error)) << error;
    param::CParamStore saved;
    saved.Init(dir / "param.jdp", dir / "default.jdp");
    ASSERT_TRUE(saved.LoadParam());
    EXPECT_EQ(saved.GetString(param::kParamFriendlyName), "Shop NAP");
    EXPECT_EQ(saved.GetString(param::kParamPassword), std::string(16, 'p'));
    EXPECT_EQ(saved.GetDword(param::kParamModifiedMask), 0x30000000u);
}

}  // namespace
}  // namespace cli
