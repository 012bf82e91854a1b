// What each parameter task leaves in the working block: the values it writes (by the
// ids and image offsets of the standard table, written out here rather than taken from
// the task code's own ids, so a wrong id shows as a wrong byte), the mask bits it sets,
// and that nothing else changes; and that a refused value or a failed save leaves the
// block and param.jdp as they were.
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

constexpr std::size_t kImage = 2048;   // block offset of the value image

// One value a task writes: where the standard table puts it, and its bytes.
struct Write {
    std::uint16_t id;            // for the messages only
    std::size_t imageOffset;
    Bytes bytes;
};

Bytes StandardBytes() {
    const ParamBlock standard = MakeStandardBlock();
    return Bytes(standard.bytes.begin(), standard.bytes.end());
}

// The standard block with the given values written over it.
Bytes StandardWith(const std::vector<Write>& writes) {
    Bytes block = StandardBytes();
    for (const Write& w : writes) std::copy(w.bytes.begin(), w.bytes.end(), block.begin() + kImage + w.imageOffset);
    return block;
}

// Names the first differing byte by its image offset, which the table above maps to an id.
::testing::AssertionResult SameBlock(const Bytes& actual, const Bytes& expected) {
    if (actual.size() != expected.size())
        return ::testing::AssertionFailure() << "size " << actual.size() << ", expected " << expected.size();
    for (std::size_t i = 0; i < actual.size(); ++i)
        if (actual[i] != expected[i])
            return ::testing::AssertionFailure() << "block offset " << i << " (image offset "
                                                 << static_cast<long>(i) - static_cast<long>(kImage) << ") is "
                                                 << int{actual[i]} << ", expected " << int{expected[i]};
    return ::testing::AssertionSuccess();
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

// Image offsets and lengths of the standard table: 3 password (8, 16), 8 friendly name
// (33, 64), 12 modifiedMask (105, 4), 15-18 WAN address, net mask, gateway, DNS (117,
// 121, 125, 129, 4 each), 24 DHCP client (149, 1), 25 NAT (150, 1), 58 registerMask
// (778, 4), 13 and 14 boot and program versions (109, 113, 4 each), 59-61 register access, deregister access, register address (782, 846, 910,
// 64 each), 62 Ringlet (974, 32), 63 PSTN (1006, 32). Masks least significant byte first.
struct TaskCase {
    const char* name;
    std::function<bool(CParamStore&, ParamMasks)> apply;
    std::vector<Write> writes;
    std::uint32_t modified, registered;
};

void PrintTo(const TaskCase& c, std::ostream* os) { *os << c.name; }

const Ipv4 kAddress{192, 168, 1, 2}, kSubnet{255, 255, 255, 0}, kGateway{192, 168, 0, 254}, kDns{8, 8, 4, 4};

const TaskCase kTasks[] = {
    {"NameAndPassword",
     [](CParamStore& s, ParamMasks m) { return ApplyNamePassword(s, "Shop NAP", "melon", m); },
     {{8, 33, Padded("Shop NAP", 64)}, {3, 8, Padded("melon", 16)},
      {12, 105, {0x00, 0x00, 0x00, 0x30}}, {58, 778, {0x00, 0x00, 0x00, 0x00}}},
     0x30000000, 0},
    {"FullLengthNameAndPassword",
     [](CParamStore& s, ParamMasks m) { return ApplyNamePassword(s, std::string(64, 'n'), "0123456789abcdef", m); },
     {{8, 33, Bytes(64, 'n')}, {3, 8, Padded("0123456789abcdef", 16)}, {12, 105, {0x00, 0x00, 0x00, 0x30}}},
     0x30000000, 0},
    {"EmptyNameAndPassword",
     [](CParamStore& s, ParamMasks m) { return ApplyNamePassword(s, "", "", m); },
     {{8, 33, Bytes(64, 0)}, {3, 8, Bytes(16, 0)}, {12, 105, {0x00, 0x00, 0x00, 0x30}}},
     0x30000000, 0},
    {"RouterAutomatic",
     [](CParamStore& s, ParamMasks m) {
         return ApplyNetwork(s, {NetworkMode::RouterAutomatic, kAddress, kSubnet, kGateway, kDns}, m);
     },
     {{25, 150, {0x01}}, {24, 149, {0x01}}, {12, 105, {0x00, 0x00, 0x03, 0x00}}, {58, 778, {0, 0, 0, 0}}},
     0x00030000, 0},
    {"Hub",
     [](CParamStore& s, ParamMasks m) {
         return ApplyNetwork(s, {NetworkMode::Hub, kAddress, kSubnet, kGateway, kDns}, m);
     },
     {{25, 150, {0x00}}, {24, 149, {0x00}}, {12, 105, {0x00, 0x00, 0x03, 0x00}}},
     0x00030000, 0},
    {"RouterManual",
     [](CParamStore& s, ParamMasks m) {
         return ApplyNetwork(s, {NetworkMode::RouterManual, kAddress, kSubnet, kGateway, kDns}, m);
     },
     {{25, 150, {0x01}}, {24, 149, {0x00}}, {15, 117, {0xC0, 0xA8, 0x01, 0x02}}, {16, 121, {0xFF, 0xFF, 0xFF, 0x00}},
      {17, 125, {0xC0, 0xA8, 0x00, 0xFE}}, {18, 129, {0x08, 0x08, 0x04, 0x04}},
      {12, 105, {0x00, 0x00, 0x03, 0x0F}}, {58, 778, {0, 0, 0, 0}}},
     0x0F030000, 0},
    {"RegisterEmpty",
     [](CParamStore& s, ParamMasks m) { return ApplyRegister(s, {}, m); },
     {{59, 782, Bytes(64, 0)}, {60, 846, Bytes(64, 0)}, {61, 910, Bytes(64, 0)}, {62, 974, Bytes(32, 0)},
      {63, 1006, Bytes(32, 0)}, {58, 778, {0x1F, 0x00, 0x00, 0x00}}, {12, 105, {0, 0, 0, 0}}},
     0, 0x1F},
    {"RegisterTexts",
     [](CParamStore& s, ParamMasks m) {
         return ApplyRegister(s, {"*21#", "#21#", std::string(64, 'r'), "12", std::string(32, '9')}, m);
     },
     {{59, 782, Padded("*21#", 64)}, {60, 846, Padded("#21#", 64)}, {61, 910, Bytes(64, 'r')},
      {62, 974, Padded("12", 32)}, {63, 1006, Bytes(32, '9')}, {58, 778, {0x1F, 0x00, 0x00, 0x00}},
      {12, 105, {0, 0, 0, 0}}},
     0, 0x1F},
    {"BootVersion",
     [](CParamStore& s, ParamMasks m) { return ApplyFirmwareVersion(s, FirmwareArea::Boot, {9, 0, 0, 1}, m); },
     {{13, 109, {0x09, 0x00, 0x00, 0x01}}, {12, 105, {0x00, 0x00, 0x00, 0x80}}, {58, 778, {0, 0, 0, 0}}},
     0x80000000, 0},
    {"ProgramVersion",
     [](CParamStore& s, ParamMasks m) { return ApplyFirmwareVersion(s, FirmwareArea::Program, {2, 8, 3, 2}, m); },
     {{14, 113, {0x02, 0x08, 0x03, 0x02}}, {12, 105, {0x00, 0x00, 0x00, 0x40}}, {58, 778, {0, 0, 0, 0}}},
     0x40000000, 0},
};

class ParamTaskBytesTest : public ParamTasksTest, public ::testing::WithParamInterface<TaskCase> {};

TEST_P(ParamTaskBytesTest, WritesItsValuesAndMasksAndNothingElse) {
    const TaskCase& c = GetParam();
    ASSERT_TRUE(c.apply(store, Masks()));
    const Bytes expected = StandardWith(c.writes);
    EXPECT_TRUE(SameBlock(InMemory(), expected));
    EXPECT_TRUE(SameBlock(Saved(), expected));
    EXPECT_EQ(modified, c.modified);
    EXPECT_EQ(registered, c.registered);
    // The same values read back through their ids.
    for (const Write& w : c.writes) EXPECT_EQ(Value(store, w.id), w.bytes) << "parameter " << w.id;
}

INSTANTIATE_TEST_SUITE_P(Tasks, ParamTaskBytesTest, ::testing::ValuesIn(kTasks),
                         [](const auto& test) { return std::string(test.param.name); });

// A masks word left over from an earlier task never leaks into the next one's block.
TEST_F(ParamTasksTest, EachTaskWritesOnlyItsOwnMaskBits) {
    ASSERT_TRUE(ApplyRegister(store, {}, Masks()));
    ASSERT_TRUE(ApplyNamePassword(store, "n", "p", Masks()));
    EXPECT_EQ(Value(store, 12), (Bytes{0x00, 0x00, 0x00, 0x30}));
    EXPECT_EQ(Value(store, 58), (Bytes{0x00, 0x00, 0x00, 0x00}));
    ASSERT_TRUE(ApplyNetwork(store, {NetworkMode::Hub, {}, {}, {}, {}}, Masks()));
    EXPECT_EQ(Value(store, 12), (Bytes{0x00, 0x00, 0x03, 0x00}));
    ASSERT_TRUE(ApplyRegister(store, {}, Masks()));
    EXPECT_EQ(Value(store, 12), (Bytes{0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Value(store, 58), (Bytes{0x1F, 0x00, 0x00, 0x00}));
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
