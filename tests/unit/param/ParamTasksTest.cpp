#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <functional>

#include <string>
#include <vector>

#include "fdp/param/ParamStore.h"
#include "fdp/param/ParamTasks.h"
#include "fdp/param/StandardBlock.h"
#include "tests/unit/param/ScratchDir.h"

namespace param {
namespace {

using Bytes = std::vector<std::uint8_t>;
using kelvane_test::ReadFile;
using kelvane_test::ScratchDir;
using kelvane_test::WriteFile;

Bytes Value(const CParamStore& store, std::uint16_t id) {
    Bytes buffer(64);
    std::uint16_t length = 0;
    if (!store.GetParam(id, buffer, length)) return {};
    buffer.resize(length);
    return buffer;
}

Bytes Padded(const std::string& text, std::size_t length) {
    Bytes bytes(text.begin(), text.end());
    bytes.resize(length, 0);
    return bytes;
}

// A working param.jdp holding the standard block, loaded; the masks start dirty so a
// task that forgets to clear them shows.
class ParamTasksTest : public ::testing::Test {
protected:
    void SetUp() override {
        const ParamBlock standard = MakeStandardBlock();
        WriteFile(dir / "param.jdp", Bytes(standard.bytes.begin(), standard.bytes.end()));
        store.Init(dir / "param.jdp", dir / "default.jdp");
        ASSERT_TRUE(store.LoadParam());
    }
    ParamMasks Masks() { return {modified, registered}; }
    Bytes Saved() { return ReadFile(dir / "param.jdp"); }
    Bytes InMemory() { return Bytes(store.Block().bytes.begin(), store.Block().bytes.end()); }

    ScratchDir dir;
    CParamStore store;
    std::uint32_t modified = 0xFFFFFFFF;
    std::uint32_t registered = 0xFFFFFFFF;
};

TEST_F(ParamTasksTest, NameAndPasswordWriteBothValuesAndExactlyTheirMaskBits) {
    ASSERT_TRUE(ApplyNamePassword(store, "Shop NAP", "melon", Masks()));
    EXPECT_EQ(Value(store, kParamFriendlyName), Padded("Shop NAP", 64));
    EXPECT_EQ(Value(store, kParamPassword), Padded("melon", 16));
    EXPECT_EQ(Value(store, kParamModifiedMask), (Bytes{0x00, 0x00, 0x00, 0x30}));
    EXPECT_EQ(Value(store, kParamRegisterMask), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(modified, 0x30000000u);
    EXPECT_EQ(registered, 0u);
    EXPECT_EQ(Saved(), InMemory());
}

TEST_F(ParamTasksTest, PasswordLengthsAtTheLimit) {
    struct Case { std::string name, password; bool accepted; };
    const Case cases[] = {
        {"", "", true},                                  // both parameters become zeros
        {"n", std::string(16, 'p'), true},               // fills the value, no terminator
        {"not kept", std::string(17, 'p'), false},   // a name the block has not held yet
        {std::string(64, 'n'), "p", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.size() * 100 + c.password.size());
        const Bytes before = Saved();
        const Bytes beforeInMemory = InMemory();
        EXPECT_EQ(ApplyNamePassword(store, c.name, c.password, Masks()), c.accepted);
        if (c.accepted) {
            EXPECT_EQ(Value(store, kParamFriendlyName), Padded(c.name, 64));
            EXPECT_EQ(Value(store, kParamPassword), Padded(c.password, 16));
            EXPECT_EQ(Saved(), InMemory());
        } else {
            // The name was accepted before the refusal, yet neither the block a later
            // task saves nor the file holds it.
            EXPECT_EQ(InMemory(), beforeInMemory);
            EXPECT_EQ(Saved(), before);
            EXPECT_EQ(modified, 0u);
        }
    }
}

TEST_F(ParamTasksTest, LongNameIsCutBetweenCharacters) {
    // 63 ASCII bytes and a three-byte character: the character does not fit.
    const std::string name = std::string(63, 'a') + "\xE5\x90\x8D" + "b";
    ASSERT_TRUE(ApplyNamePassword(store, name, "", Masks()));
    EXPECT_EQ(Value(store, kParamFriendlyName), Padded(std::string(63, 'a'), 64));
}

TEST_F(ParamTasksTest, NetworkChoices) {
    const Ipv4 address{192, 168, 1, 2}, subnet{255, 255, 255, 0}, gateway{192, 168, 0, 254}, dns{8, 8, 4, 4};
    const Bytes untouched = Value(store, kParamGateway);
    struct Case {
        NetworkMode mode;
        std::uint8_t nat, dhcp;
        Bytes mask;
        bool addresses;
    };
    const Case cases[] = {
        {NetworkMode::RouterAutomatic, 1, 1, {0x00, 0x00, 0x03, 0x00}, false},
        {NetworkMode::Hub, 0, 0, {0x00, 0x00, 0x03, 0x00}, false},
        {NetworkMode::RouterManual, 1, 0, {0x00, 0x00, 0x03, 0x0F}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.mode));
        ASSERT_TRUE(ApplyNetwork(store, {c.mode, address, subnet, gateway, dns}, Masks()));
        EXPECT_EQ(Value(store, kParamNat), Bytes{c.nat});
        EXPECT_EQ(Value(store, kParamDhcpClient), Bytes{c.dhcp});
        EXPECT_EQ(Value(store, kParamModifiedMask), c.mask);
        EXPECT_EQ(Value(store, kParamRegisterMask), (Bytes{0, 0, 0, 0}));
        if (c.addresses) {
            EXPECT_EQ(Value(store, kParamWanAddress), (Bytes{192, 168, 1, 2}));
            EXPECT_EQ(Value(store, kParamSubnetMask), (Bytes{255, 255, 255, 0}));
            EXPECT_EQ(Value(store, kParamGateway), (Bytes{0xC0, 0xA8, 0x00, 0xFE}));
            EXPECT_EQ(Value(store, kParamDnsServer), (Bytes{8, 8, 4, 4}));
        } else {
            EXPECT_EQ(Value(store, kParamGateway), untouched);
        }
        EXPECT_EQ(Saved(), InMemory());
    }
}

TEST_F(ParamTasksTest, RegisterTexts) {
    std::array<std::string, 5> texts{};
    ASSERT_TRUE(ApplyRegister(store, texts, Masks()));
    for (std::uint16_t id = kParamRegisterFirst; id < kParamRegisterFirst + 5; ++id)
        EXPECT_EQ(Value(store, id), Bytes(kRegisterLens[id - kParamRegisterFirst], 0)) << id;
    EXPECT_EQ(Value(store, kParamRegisterMask), (Bytes{0x1F, 0, 0, 0}));
    EXPECT_EQ(Value(store, kParamModifiedMask), (Bytes{0, 0, 0, 0}));

    texts = {"*21#", "#21#", std::string(64, 'r'), "12", std::string(32, '9')};
    ASSERT_TRUE(ApplyRegister(store, texts, Masks()));
    EXPECT_EQ(Value(store, 61), Bytes(64, 'r'));
    EXPECT_EQ(Value(store, 63), Bytes(32, '9'));   // full: no terminating NUL
    EXPECT_EQ(Saved(), InMemory());

    // A text longer than its parameter is refused, not cut: a PSTN number of 33 digits,
    // a register address of 65 characters. The texts accepted before it leave no trace.
    for (const auto& [index, text] : {std::pair{4, std::string(33, '9')}, std::pair{2, std::string(65, 'r')}}) {
        SCOPED_TRACE(index);
        std::array<std::string, 5> tooLong = {"*31#", "#31#", "sip.example", "7", "5550100"};
        tooLong[static_cast<std::size_t>(index)] = text;
        const Bytes before = Saved();
        const Bytes beforeInMemory = InMemory();
        EXPECT_FALSE(ApplyRegister(store, tooLong, Masks()));
        EXPECT_EQ(registered, 0u);
        EXPECT_EQ(InMemory(), beforeInMemory);
        EXPECT_EQ(Saved(), before);
    }
}

TEST_F(ParamTasksTest, FirmwareVersionWritesItsParameterAndOnlyItsMaskBit) {
    struct Case { FirmwareArea area; std::uint16_t id; Bytes mask; std::uint32_t modifiedMask; };
    const Case cases[] = {
        {FirmwareArea::Boot, 13, {0x00, 0x00, 0x00, 0x80}, 0x80000000u},
        {FirmwareArea::Program, 14, {0x00, 0x00, 0x00, 0x40}, 0x40000000u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        modified = 0x30000000;   // the name and password bits of an earlier task
        registered = 0x1F;
        ASSERT_TRUE(ApplyFirmwareVersion(store, c.area, {9, 0, 0, 1}, Masks()));
        EXPECT_EQ(Value(store, c.id), (Bytes{9, 0, 0, 1}));
        EXPECT_EQ(Value(store, kParamModifiedMask), c.mask);
        EXPECT_EQ(Value(store, kParamRegisterMask), (Bytes{0, 0, 0, 0}));
        EXPECT_EQ(modified, c.modifiedMask);
        EXPECT_EQ(registered, 0u);
        EXPECT_EQ(Saved(), InMemory());
    }
}

// param.jdp removed or locked by another program after it was loaded: every value is
// accepted, only the save fails. The task fails, and the block in memory is as before,
// so nothing of it goes out with a later task.
TEST_F(ParamTasksTest, AFailedSaveFailsTheTaskAndLeavesTheBlockAsItWas) {
    const std::array<std::string, 5> texts = {"*21#", "#21#", "sip", "12", "34"};
    const std::pair<const char*, std::function<bool()>> tasks[] = {
        {"name and password", [&] { return ApplyNamePassword(store, "Shop NAP", "melon", Masks()); }},
        {"network", [&] { return ApplyNetwork(store, {NetworkMode::Hub, {}, {}, {}, {}}, Masks()); }},
        {"register", [&] { return ApplyRegister(store, texts, Masks()); }},
        {"firmware version", [&] { return ApplyFirmwareVersion(store, FirmwareArea::Program, {9, 0, 0, 1}, Masks()); }},
    };
    for (const bool locked : {false, true}) {
        for (const auto& [name, apply] : tasks) {
            SCOPED_TRACE(std::string(name) + (locked ? ", locked" : ", removed"));
            const Bytes file = Saved();
            const Bytes beforeInMemory = InMemory();
            int holder = -1;
            if (locked) {
                holder = ::open((dir / "param.jdp").c_str(), O_RDONLY | O_CLOEXEC);
                ASSERT_GE(holder, 0);
                ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
            } else {
                std::filesystem::remove(dir / "param.jdp");
            }
            modified = registered = 0xFFFFFFFF;
            EXPECT_FALSE(apply());
            EXPECT_EQ(InMemory(), beforeInMemory);
            EXPECT_EQ(modified, 0u);
            EXPECT_EQ(registered, 0u);
            if (locked) {
                ::close(holder);
                EXPECT_EQ(Saved(), file);
            } else {
                EXPECT_FALSE(std::filesystem::exists(dir / "param.jdp")) << "a save never creates the file";
                WriteFile(dir / "param.jdp", file);
            }
        }
    }
}

TEST_F(ParamTasksTest, NothingIsWrittenWithoutALoadedFile) {
    CParamStore unloaded;
    unloaded.Init(dir / "param.jdp", dir / "default.jdp");
    const Bytes before = Saved();
    EXPECT_FALSE(ApplyNamePassword(unloaded, "n", "p", Masks()));
    EXPECT_FALSE(ApplyNetwork(unloaded, {}, Masks()));
    EXPECT_FALSE(ApplyRegister(unloaded, {}, Masks()));
    EXPECT_FALSE(ApplyFirmwareVersion(unloaded, FirmwareArea::Boot, {1, 0, 0, 0}, Masks()));
    EXPECT_EQ(modified, 0u);
    EXPECT_EQ(Saved(), before);
}

TEST(Utf8PrefixTest, NeverEndsInsideACharacter) {
    struct Case { std::string text; std::size_t max; std::string expected; };
    const Case cases[] = {
        {"abc", 3, "abc"},
        {"abcd", 3, "abc"},
        {"a\xC3\xA9", 2, "a"},                 // e-acute would be cut
        {"a\xC3\xA9", 3, "a\xC3\xA9"},
        {"\xF0\x9F\x98\x80x", 3, ""},         // a four-byte character
        {"\xF0\x9F\x98\x80x", 4, "\xF0\x9F\x98\x80"},
    };
    for (const Case& c : cases) EXPECT_EQ(Utf8Prefix(c.text, c.max), c.expected) << c.text;
}

TEST(ParseIpv4Test, AcceptsOnlyFourFieldsOfAByte) {
    EXPECT_EQ(ParseIpv4("192.168.0.254"), (Ipv4{192, 168, 0, 254}));
    EXPECT_EQ(ParseIpv4("0.0.0.0"), (Ipv4{0, 0, 0, 0}));
    for (const char* bad : {"192.168.0.256", "192.168.0", "1.2.3.4.5", "1..2.3", "a.b.c.d", "1.2.3.-4", "1.2.3.+4",
                            " 1.2.3.4", "1.2.3.4 ", "", "1.2.3.0004"})
        EXPECT_FALSE(ParseIpv4(bad).has_value()) << bad;
}

}  // namespace
}  // namespace param
