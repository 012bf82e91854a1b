#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include "fdp/Frame.h"
#include "fdp/param/ParamStore.h"
#include "fdp/param/StandardBlock.h"
#include "tests/unit/param/ScratchDir.h"

namespace param {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Text(const std::string& text, std::size_t length) {
    Bytes bytes(text.begin(), text.end());
    bytes.resize(length, 0);
    return bytes;
}

Bytes Value(const CParamStore& store, std::uint16_t id) {
    Bytes buffer(2048);
    std::uint16_t length = 0;
    if (!store.GetParam(id, buffer, length)) return {};
    buffer.resize(length);
    return buffer;
}

std::string Description(const DescText& text) { return std::string(text.data()); }

// A store whose view is bound to the standard block, as after loading param.jdp.
class StandardStore : public ::testing::Test {
protected:
    void SetUp() override { store.LoadBlock(MakeStandardBlock().bytes); }

    void SetRowCount(std::int32_t count) {
        ParamBlock block = MakeStandardBlock();
        fdp::WriteLe32(block.Image().data() + kRowCountImageOffset, static_cast<std::uint32_t>(count));
        store.LoadBlock(block.bytes);
    }

    CParamStore store;
};

TEST_F(StandardStore, ViewTakesFormatVersionAndRowCountFromTheBlock) {
    EXPECT_TRUE(store.View().bound);
    EXPECT_EQ(store.View().rowCount, 91);
    EXPECT_EQ(store.View().version, "2.0.0.0");
    EXPECT_EQ(store.View().format, (std::array<std::uint8_t, 4>{0, 0, 0, 2}));
}

TEST(ParamStoreUnbound, EveryLookupFailsBeforeALoad) {
    CParamStore fresh;                   // holds the built-in block, view unbound
    CParamStore initialised;
    initialised.Init("/nonexistent/param.jdp", "/nonexistent/default.jdp");
    EXPECT_FALSE(initialised.LoadParam());

    for (CParamStore* store : {&fresh, &initialised}) {
        EXPECT_FALSE(store->View().bound);
        EXPECT_FALSE(store->SetText(8, "name"));
        EXPECT_EQ(store->GetByte(4), 0);
        EXPECT_EQ(store->GetString(8), "");
        EXPECT_TRUE(Value(*store, 3).empty());
        DescText text{};
        EXPECT_FALSE(store->GetDescription(8, text));
        EXPECT_FALSE(store->FindDesc(1).has_value());
        EXPECT_FALSE(store->AddParam(0, {200, ParamData, 4, 1}, Bytes{1}, text));
    }
    EXPECT_EQ(fresh.Block().bytes, MakeStandardBlock().bytes);
    EXPECT_TRUE(std::all_of(initialised.Block().bytes.begin(), initialised.Block().bytes.end(),
                            [](auto b) { return b == 0; }));
}

TEST_F(StandardStore, SetParamPadsShortValuesAndRefusesLongOnes) {
    ASSERT_TRUE(store.SetText(8, std::string(64, 'X')));
    EXPECT_EQ(Value(store, 8), Bytes(64, 'X'));    // full length: no terminator

    ASSERT_TRUE(store.SetText(8, "Kel"));
    EXPECT_EQ(Value(store, 8), Text("Kel", 64));

    EXPECT_FALSE(store.SetText(3, std::string(17, '9')));
    EXPECT_EQ(Value(store, 3), Text("4826", 16));
    EXPECT_TRUE(store.SetText(3, std::string(16, '9')));
    EXPECT_EQ(Value(store, 3), Bytes(16, '9'));

    EXPECT_FALSE(store.SetText(64, "x"));           // no such id
    // Neighbours are untouched.
    EXPECT_EQ(Value(store, 7), (Bytes{0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(Value(store, 9), Bytes{3});
}

TEST_F(StandardStore, GetParamNeedsRoomForTheWholeValue) {
    const struct {
        std::size_t capacity;
        bool ok;
    } cases[] = {{0, false}, {15, false}, {16, true}, {64, true}};
    for (const auto& c : cases) {
        Bytes buffer(c.capacity, 0xEE);
        std::uint16_t length = 0;
        EXPECT_EQ(store.GetParam(3, buffer, length), c.ok) << c.capacity;
        if (c.ok) {
            EXPECT_EQ(length, 16);
            EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 16), Text("4826", 16));
        } else {
            EXPECT_EQ(buffer, Bytes(c.capacity, 0xEE)) << "nothing copied";
        }
    }
}

// The type flag is the sign of success: a row whose type is 0 (from a file) is found
// and copied, but GetParam answers false for it.
TEST_F(StandardStore, GetParamAnswersFalseForARowOfTypeZero) {
    ParamBlock block = MakeStandardBlock();
    block.SetRow(8, {9, 0, 1, 0});                           // parameter 9, type cleared
    store.LoadBlock(block.bytes);
    Bytes buffer(8, 0xEE);
    std::uint16_t length = 0;
    EXPECT_FALSE(store.GetParam(9, buffer, length));
    EXPECT_TRUE(store.GetParam(10, buffer, length)) << "the rows beside it keep their types";
}

TEST_F(StandardStore, TypedReadsAreLittleEndianAndZeroOnFailure) {
    EXPECT_EQ(store.GetByte(4), 1);
    EXPECT_EQ(store.GetWord(19), 0x6580);
    EXPECT_EQ(store.GetWord(4), 1);                 // a 1-byte value: the missing byte reads 0
    EXPECT_EQ(store.GetDword(2), 91u);
    EXPECT_EQ(store.GetDword(23), 0x58020000u);      // stored most significant byte first
    EXPECT_EQ(store.GetString(102), "Jox NAP~");
    EXPECT_EQ(store.GetDword(999), 0u);

    ASSERT_TRUE(store.SetText(8, std::string(64, 'N')));
    EXPECT_EQ(store.GetString(8), std::string(63, 'N'));

    const DescText text{};
    ASSERT_TRUE(store.AddParam(91, {200, ParamData, 65, 0}, Bytes(65, 7), text));
    EXPECT_EQ(store.GetByte(200), 0);               // longer than the 64-byte read buffer
}

TEST_F(StandardStore, DescriptionsCompareTheIdWithTheRowCount) {
    // Only an id above the row count is refused: the id, not the row, is compared.
    const struct {
        std::int32_t rows;
        std::uint16_t id;
        const char* text;   // null: refused
    } cases[] = {
        {91, 8, "Bluetooth Device Friendly Name"},
        {91, 3, "Password"},
        {91, 1, "2.0.0.0"},    // slot 0: the version text
        {91, 0, nullptr},
        {91, 101, nullptr},    // 101 > 91 rows
        {91, 64, nullptr},     // no such row
        {63, 63, "PSTN ID"},   // the last of 63 rows
    };
    DescText text{};
    for (const auto& c : cases) {
        SetRowCount(c.rows);
        ASSERT_EQ(store.GetDescription(c.id, text), c.text != nullptr) << "id " << c.id << " of " << c.rows;
        if (c.text) {
            EXPECT_EQ(Description(text), c.text) << "id " << c.id;
        }
    }
    SetRowCount(91);

    DescText renamed{};
    std::copy_n("renamed", 8, renamed.begin());
    EXPECT_TRUE(store.SetDescription(4, renamed));
    ASSERT_TRUE(store.GetDescription(8, text));
    EXPECT_EQ(Description(text), "renamed");
    EXPECT_FALSE(store.SetDescription(64, renamed));
}

TEST_F(StandardStore, AddParamAppendsAfterTheLastRow) {
    DescText text{};
    std::copy_n("Extra", 6, text.begin());
    ASSERT_TRUE(store.AddParam(91, {200, ParamData, 8, 38}, Bytes{1, 2, 3}, text));
    EXPECT_EQ(store.View().rowCount, 92);
    EXPECT_EQ(store.ValueOffset(200), 1647u);
    EXPECT_EQ(Value(store, 200), (Bytes{1, 2, 3, 0, 0, 0, 0, 0}));
    EXPECT_EQ(store.GetDword(2), 91u);                // parameter 2 in the image stays
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(store.Block().Slot(38).data())), "Extra");

    EXPECT_FALSE(store.AddParam(256, {201, ParamData, 1, 0}, Bytes{1}, text));
    EXPECT_FALSE(store.AddParam(-1, {201, ParamData, 1, 0}, Bytes{1}, text));
    EXPECT_EQ(store.View().rowCount, 92);
}

TEST_F(StandardStore, AddParamKeepsTheStepsBeforeAFailure) {
    const DescText text{};
    // The value is too long for its row: the row stays written, the value does not.
    EXPECT_FALSE(store.AddParam(91, {200, ParamData, 2, 38}, Bytes{1, 2, 3}, text));
    EXPECT_EQ(store.View().rowCount, 92);
    EXPECT_EQ(store.FindDesc(200), (ParamDesc{200, ParamData, 2, 38}));
    // A description slot past the area: the value is set, then the call fails.
    EXPECT_FALSE(store.AddParam(92, {201, ParamData, 1, 64}, Bytes{9}, text));
    EXPECT_EQ(Value(store, 201), Bytes{9});
}

TEST_F(StandardStore, RowCountOutOfRangeFindsNothing) {
    const struct {
        std::int32_t count;
        bool finds;
    } cases[] = {{-1, false}, {INT32_MIN, false}, {257, false}, {INT32_MAX, false}, {256, true}, {0, false}};
    for (const auto& c : cases) {
        SetRowCount(c.count);
        EXPECT_EQ(store.FindDesc(8).has_value(), c.finds) << c.count;
        EXPECT_EQ(store.ValueOffset(8).has_value(), c.finds) << c.count;
        EXPECT_EQ(store.GetString(8), c.finds ? "Jox NAP" : "") << c.count;
    }
}

TEST_F(StandardStore, DuplicateIdsTakeTheLastRowAndTheFirstValue) {
    ParamBlock block = MakeStandardBlock();
    block.SetRow(91, {4, ParamSwitch, 2, 1});
    fdp::WriteLe32(block.Image().data() + kRowCountImageOffset, 92);
    store.LoadBlock(block.bytes);
    EXPECT_EQ(store.FindDesc(4)->length, 2);
    EXPECT_EQ(store.ValueOffset(4), 24u);
    EXPECT_EQ(Value(store, 4), (Bytes{1, 1}));         // the row's length from image offset 24
}

// Rows come from a file: a row may claim more than the image holds or a slot past
// the description area. Such a value or description is refused, never read past.
TEST_F(StandardStore, RowsReachingPastTheirAreasAreRefused) {
    ParamBlock block = MakeStandardBlock();
    block.SetRow(1, {2, ParamInternal, 4, 1000});          // slot far past the area
    block.SetRow(91, {3, ParamCode, 2048, 6});              // duplicate of 3: offset 8, length 2048
    block.SetRow(92, {300, ParamData, 60000, 0});
    fdp::WriteLe32(block.Image().data() + kRowCountImageOffset, 93);
    store.LoadBlock(block.bytes);

    DescText text{};
    EXPECT_FALSE(store.GetDescription(2, text));
    EXPECT_TRUE(Value(store, 3).empty());
    EXPECT_FALSE(store.SetText(3, "1234"));
    EXPECT_TRUE(Value(store, 300).empty());
    EXPECT_EQ(store.GetByte(4), 1);                          // rows before them still work
}

TEST_F(StandardStore, SetBlockCopiesWithoutRebindingTheView) {
    CParamStore other;
    other.Init({}, {});
    other.SetBlock(MakeStandardBlock().bytes);
    EXPECT_EQ(other.Block().bytes, MakeStandardBlock().bytes);
    EXPECT_FALSE(other.FindDesc(8).has_value());

    const Bytes shortBlock(100, 0xAB);
    store.SetBlock(shortBlock);                              // only the bytes given
    EXPECT_EQ(store.Block().bytes[99], 0xAB);
    EXPECT_EQ(store.Block().bytes[100], MakeStandardBlock().bytes[100]);
    EXPECT_EQ(store.View().rowCount, 91);
}

// After a name and password change the working file holds the target's password.
TEST(ParamStoreFile, SavedFileIsReadableByItsOwnerOnly) {
    kelvane_test::ScratchDir dir;
    const auto block = MakeStandardBlock();
    kelvane_test::WriteFile(dir / "param.jdp", Bytes(block.bytes.begin(), block.bytes.end()));
    std::filesystem::permissions(dir / "param.jdp", std::filesystem::perms(0644));
    CParamStore store;
    store.Init(dir / "param.jdp", {});
    ASSERT_TRUE(store.LoadParam());
    ASSERT_TRUE(store.SaveParam());
    EXPECT_EQ(std::filesystem::status(dir / "param.jdp").permissions(), std::filesystem::perms(0600));
}

}  // namespace
}  // namespace param
