#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fdp/param/ParamStore.h"
#include "fdp/param/ParamTasks.h"
#include "fdp/param/StandardBlock.h"
#include "tests/unit/param/ScratchDir.h"
#include "tools/cli/ParamDraft.h"
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

// What each task's arguments put into the block, by the standard table's literal ids:
// 8 name (64 bytes), 3 password (16), 12 modifiedMask, 58 registerMask (least
// significant byte first), 15-18 address, mask, gateway, DNS, 24 DHCP client, 25 NAT,
// 59-63 the register texts.
TEST(ParamTaskArgsTest, BuildsTheBlockThePageWould) {
    const auto padded = [](const std::string& text, std::size_t length) {
        std::vector<std::uint8_t> bytes(text.begin(), text.end());
        bytes.resize(length, 0);
        return bytes;
    };
    using Values = std::vector<std::pair<std::uint16_t, std::vector<std::uint8_t>>>;
    struct Case { Args args; Values values; };
    const Case cases[] = {
        {{"set-name-password", "Shop NAP", std::string(16, 'p')},
         {{8, padded("Shop NAP", 64)}, {3, padded(std::string(16, 'p'), 16)}, {12, {0x00, 0x00, 0x00, 0x30}},
          {58, {0, 0, 0, 0}}, {29, padded("4826", 16)}}},
        {{"set-network", "192.168.1.20/24,192.168.0.254,8.8.4.4"},
         {{25, {0x01}}, {24, {0x00}}, {15, {192, 168, 1, 20}}, {16, {255, 255, 255, 0}}, {17, {192, 168, 0, 254}},
          {18, {8, 8, 4, 4}}, {12, {0x00, 0x00, 0x03, 0x0F}}, {58, {0, 0, 0, 0}}}},
        {{"set-network", "hub"}, {{25, {0x00}}, {24, {0x00}}, {12, {0x00, 0x00, 0x03, 0x00}}, {17, {0, 0, 0, 0}}}},
        {{"set-network", "auto"}, {{25, {0x01}}, {24, {0x01}}, {12, {0x00, 0x00, 0x03, 0x00}}}},
        {{"set-register", "*21#", "#21#", "sip.example", "12", std::string(32, '9')},
         {{59, padded("*21#", 64)}, {60, padded("#21#", 64)}, {61, padded("sip.example", 64)}, {62, padded("12", 32)},
          {63, padded(std::string(32, '9'), 32)}, {58, {0x1F, 0x00, 0x00, 0x00}}, {12, {0, 0, 0, 0}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        kelvane_test::ScratchDir dir;
        const param::ParamBlock standard = param::MakeStandardBlock();
        const std::vector<std::uint8_t> original(standard.bytes.begin(), standard.bytes.end());
        kelvane_test::WriteFile(dir / "param.jdp", original);
        std::string error;
        const auto request = ParseParamTask(c.args, error);
        ASSERT_TRUE(request) << error;
        EXPECT_FALSE(BuildParamFile(*request, dir / "built.jdp", error));   // no such file yet
        EXPECT_NE(error.find("built.jdp"), std::string::npos) << error;
        kelvane_test::WriteFile(dir / "built.jdp", original);
        ASSERT_TRUE(BuildParamFile(*request, dir / "built.jdp", error)) << error;
        param::CParamStore built;
        built.Init(dir / "built.jdp", dir / "default.jdp");
        ASSERT_TRUE(built.LoadParam());
        for (const auto& [id, bytes] : c.values) {
            std::vector<std::uint8_t> value(64);
            std::uint16_t length = 0;
            ASSERT_TRUE(built.GetParam(id, value, length)) << id;
            value.resize(length);
            EXPECT_EQ(value, bytes) << "parameter " << id;
        }
        EXPECT_EQ(kelvane_test::ReadFile(dir / "param.jdp"), original);
    }
}

// The name/password task's bits in the modified mask (parameter 12): bit 29 the name,
// bit 28 the password. Each is told apart, in memory and in the downloaded block, from
// bytes written here; the task itself marks both.
TEST(ParamTaskArgsTest, TheNameAndPasswordBitsAreToldApart) {
    const struct {
        const char* name;
        std::uint32_t modified;
        std::vector<std::uint8_t> parameter12;   // least significant byte first
        const char* fields;
    } cases[] = {
        {"name alone", 0x20000000u, {0x00, 0x00, 0x00, 0x20}, "name"},
        {"password alone", 0x10000000u, {0x00, 0x00, 0x00, 0x10}, "password"},
        {"both", 0x30000000u, {0x00, 0x00, 0x00, 0x30}, "name,password"},
    };
    const param::ParamBlock standard = param::MakeStandardBlock();
    const std::vector<std::uint8_t> original(standard.bytes.begin(), standard.bytes.end());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(param::ChangedFieldNames(c.modified, 0), c.fields) << "in memory";
        kelvane_test::ScratchDir dir;
        kelvane_test::WriteFile(dir / "param.jdp", original);
        param::CParamStore store;
        store.Init(dir / "param.jdp", dir / "default.jdp");
        ASSERT_TRUE(store.LoadParam());
        ASSERT_TRUE(store.SetParam(12, c.parameter12));
        ASSERT_TRUE(store.SaveParam());
        EXPECT_EQ(ChangedFieldsOf(dir / "param.jdp"), c.fields) << "in the downloaded block";
    }
    kelvane_test::ScratchDir dir;
    kelvane_test::WriteFile(dir / "built.jdp", original);
    std::string error;
    const auto request = ParseParamTask({"set-name-password", "Shop NAP", "melon"}, error);
    ASSERT_TRUE(request) << error;
    ASSERT_TRUE(BuildParamFile(*request, dir / "built.jdp", error)) << error;
    EXPECT_EQ(ChangedFieldsOf(dir / "built.jdp"), "name,password");
}

// The block is built and sent from a new file; param.jdp changes only by Commit, once
// the target has burnt it.
TEST(ParamDraftTest, LeavesTheWorkingFileAloneUntilCommitted) {
    kelvane_test::ScratchDir dir;
    std::string error;
    {
        CParamDraft draft;
        EXPECT_FALSE(draft.Create(dir / "", error));   // no param.jdp
        EXPECT_NE(error.find("param.jdp"), std::string::npos) << error;
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir / ""));

    // A working file longer than a block keeps its tail through the copy.
    std::vector<std::uint8_t> original(8200, 0x11);
    kelvane_test::WriteFile(dir / "param.jdp", original);
    std::filesystem::path draftPath;
    {
        CParamDraft draft;
        ASSERT_TRUE(draft.Create(dir / "", error)) << error;
        draftPath = draft.Path();
        EXPECT_EQ(draftPath.parent_path(), (dir / "param.jdp").parent_path());
        EXPECT_EQ(kelvane_test::ReadFile(draftPath), original);
        EXPECT_EQ(std::filesystem::status(draftPath).permissions() & std::filesystem::perms::all,
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        kelvane_test::WriteFile(draftPath, std::vector<std::uint8_t>(8192, 0x22));
        // A run that fails goes without Commit.
    }
    EXPECT_FALSE(std::filesystem::exists(draftPath));
    EXPECT_EQ(kelvane_test::ReadFile(dir / "param.jdp"), original);

    {
        CParamDraft draft;
        ASSERT_TRUE(draft.Create(dir / "", error)) << error;
        kelvane_test::WriteFile(draft.Path(), std::vector<std::uint8_t>(8192, 0x22));
        ASSERT_TRUE(draft.Commit(error)) << error;
    }
    EXPECT_EQ(kelvane_test::ReadFile(dir / "param.jdp"), std::vector<std::uint8_t>(8192, 0x22));
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir / "")) ++files;
    EXPECT_EQ(files, 1u) << "nothing left beside param.jdp";

    // Never read through a symbolic link planted in param.jdp's place.
    std::filesystem::remove(dir / "param.jdp");
    std::filesystem::create_symlink(dir / "elsewhere", dir / "param.jdp");
    kelvane_test::WriteFile(dir / "elsewhere", original);
    CParamDraft linked;
    EXPECT_FALSE(linked.Create(dir / "", error));
}

}  // namespace
}  // namespace cli
