// The built-in parameter block, row by row: what param.jdp and default.jdp start from
// and what the target expects to find in them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "fdp/Frame.h"
#include "fdp/param/ParamStore.h"
#include "fdp/param/StandardBlock.h"

namespace param {
namespace {

using namespace std::string_literals;

// One line of the standard table. A line may stand for a run of rows: count ids, each
// idStep after the one before, with values offsetStep bytes apart. defaults[i] is the
// value of the line's i-th id as stored, NUL-padded to the length; ids past the given
// defaults are all zero.
struct TableLine {
    std::uint16_t id;
    std::uint16_t type;
    std::uint16_t length;
    std::size_t offset;   // in the value image
    std::uint16_t slot;
    std::vector<std::string> defaults;
    int count = 1;
    std::uint16_t idStep = 1;
    std::size_t offsetStep = 0;
};

const TableLine kTable[] = {
    {1, 0x08, 4, 0, 0, {"\x00\x00\x00\x02"s}},
    {2, 0x08, 4, 4, 0, {"\x5B\x00\x00\x00"s}},
    {3, 0x20, 16, 8, 6, {"4826"}},
    {4, 0x10, 1, 24, 1, {"\x01"}},
    {5, 0x10, 1, 25, 2, {"\x01"}},
    {6, 0x10, 1, 26, 7, {"\x01"}},
    {7, 0x80, 6, 27, 3, {"\x00\x00\x00\x00\x00\x01"s}},
    {8, 0x40, 64, 33, 4, {"Jox NAP"}},
    {9, 0x08, 1, 97, 0, {"\x03"}},
    {10, 0x10, 1, 98, 8, {"\x01"}},
    {11, 0x80, 6, 99, 9, {"\x01\x02\x03\x04\x05\x06"}},
    {12, 0x10, 4, 105, 22, {}},
    {13, 0x08, 4, 109, 0, {"\x00\x00\x00\x01"s}},
    {14, 0x08, 4, 113, 0, {"\x00\x00\x00\x01"s}},
    {15, 0x80, 4, 117, 12, {}},
    {16, 0x80, 4, 121, 13, {}},
    {17, 0x80, 4, 125, 14, {}},
    {18, 0x80, 4, 129, 15, {}},
    {19, 0x40, 2, 133, 16, {"\x80\x65"}},
    {20, 0x40, 2, 135, 16, {"\x03\x00"s}},
    {21, 0x80, 4, 137, 17, {"\xC0\xA8\x01\x01"}},   // 192.168.1.1
    {22, 0x80, 4, 141, 18, {"\xC0\xA8\x01\x02"}},   // 192.168.1.2
    {23, 0x40, 4, 145, 19, {"\x00\x00\x02\x58"s}},  // 600
    {24, 0x10, 1, 149, 20, {"\x01"}},
    {25, 0x10, 1, 150, 21, {}},
    {26, 0x10, 4, 151, 23, {}},
    {27, 0x20, 1, 155, 24, {}},
    {28, 0x20, 1, 156, 25, {}},
    {29, 0x20, 16, 157, 26, {"4826"}},
    {30, 0x40, 22, 173, 27, {}, 20, 1, 22},
    {50, 0x40, 22, 613, 28, {}, 3, 1, 22},
    {53, 0x40, 22, 679, 29, {}, 3, 1, 22},
    {56, 0x20, 1, 745, 30, {}},
    {57, 0x40, 32, 746, 31, {}},
    {58, 0x10, 4, 778, 32, {}},
    {59, 0x40, 64, 782, 33, {}},
    {60, 0x40, 64, 846, 34, {}},
    {61, 0x40, 64, 910, 35, {}},
    {62, 0x40, 32, 974, 36, {}},
    {63, 0x40, 32, 1006, 37, {}},
    // Seven access control records (k = 0 to 6) of address, name, code and switch,
    // interleaved in id order: each line is one field of every record.
    {101, 0x80, 6, 1038, 5, {"\x00\x00\x00\x00\x00\x02"s, "\x00\x00\x00\x00\x00\x03"s}, 7, 4, 87},
    {102, 0x40, 64, 1044, 5, {"Jox NAP~", "Jox NAP~"}, 7, 4, 87},
    {103, 0x20, 16, 1108, 5, {"3197", "3197"}, 7, 4, 87},
    {104, 0x10, 1, 1124, 5, {"\x01", "\x01"}, 7, 4, 87},
};

const std::string_view kSlotTexts[] = {
    "2.0.0.0",
    "security",
    "Enable encription",
    "Bluetooth Device Address",
    "Bluetooth Device Friendly Name",
    "Access Control",
    "Password",
    "Visability to other device",
    "Enable/Disable Access",
    "Nap Ethernet MAC Address",
    "BootCode Version Number",
    "PorgCode Version Number",
    "The WAN_IP distributed to NAP",
    "The WAN_IP's NetMask",
    "The WAN_IP's GateWay",
    "The WAN_IP's DNS1",
    "TCP or UDP or IMCP Port base",
    "The NAP_IP in NAP_LAN",
    "The IP_START in NAP_LAN",
    "The duration of leasing WAN_IP",
    "The DHCP client is ON",
    "The NAT in NAP is ON",
    "Set 1 if the param is modified",
    "The Param Mask about Phone",
    "Paired Dev Num",
    "Paired HS Num",
    "The pincode of HS to be paired",
    "The info of Dev paired",
    "The info of HS paired",
    "The info of Phone paired",
    "The info of Phone number",
    "The transfer phone no",
    "Reg mask",
    "Register Access Code",
    "Deregister Access Code",
    "Register Addr",
    "Ringlet ID",
    "PSTN ID",
};

using Bytes = std::vector<std::uint8_t>;

Bytes Padded(std::string_view value, std::size_t length) {
    Bytes bytes(value.begin(), value.end());
    bytes.resize(length, 0);
    return bytes;
}

struct ExpectedRow {
    ParamDesc desc;
    std::size_t offset;
    Bytes value;
};

// The table's lines expanded to one row per id, in the descriptor table's order:
// ascending ids.
std::vector<ExpectedRow> ExpectedRows() {
    std::vector<ExpectedRow> rows;
    for (const TableLine& line : kTable) {
        for (int i = 0; i < line.count; ++i) {
            const auto id = static_cast<std::uint16_t>(line.id + i * line.idStep);
            const std::string value = i < static_cast<int>(line.defaults.size()) ? line.defaults[i] : std::string();
            rows.push_back({{id, line.type, line.length, line.slot},
                            line.offset + static_cast<std::size_t>(i) * line.offsetStep,
                            Padded(value, line.length)});
        }
    }
    std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.desc.id < b.desc.id; });
    return rows;
}

TEST(StandardBlock, EveryRowHasItsIdTypeLengthOffsetSlotAndDefault) {
    const ParamBlock block = MakeStandardBlock();
    CParamStore store;
    store.LoadBlock(block.bytes);
    const auto image = block.Image();

    const std::vector<ExpectedRow> expected = ExpectedRows();
    ASSERT_EQ(expected.size(), 91u);
    for (int row = 0; row < kMaxRows; ++row) {
        if (row >= static_cast<int>(expected.size())) {
            EXPECT_EQ(block.Row(row), ParamDesc{}) << "row " << row;
            continue;
        }
        const ExpectedRow& e = expected[static_cast<std::size_t>(row)];
        SCOPED_TRACE("id " + std::to_string(e.desc.id));
        EXPECT_EQ(block.Row(row), e.desc) << "row " << row;
        EXPECT_EQ(store.ValueOffset(e.desc.id), e.offset);
        ASSERT_LE(e.offset + e.value.size(), image.size());
        EXPECT_EQ(Bytes(image.begin() + static_cast<std::ptrdiff_t>(e.offset),
                        image.begin() + static_cast<std::ptrdiff_t>(e.offset + e.value.size())),
                  e.value);
    }
    EXPECT_EQ(kStandardRowCount, 91);
    EXPECT_EQ(store.View().rowCount, 91);
    EXPECT_TRUE(std::all_of(image.begin() + 1647, image.end(), [](auto b) { return b == 0; }))
        << "the value image uses 1647 bytes";
    EXPECT_EQ(block.bytes[2051], 2) << "the format byte the front end checks";
}

TEST(StandardBlock, DescriptionSlotsHoldTheirTextsAndTheRestAreEmpty) {
    const ParamBlock block = MakeStandardBlock();
    for (std::size_t slot = 0; slot < kSlotCount; ++slot) {
        const std::string_view text = slot < std::size(kSlotTexts) ? kSlotTexts[slot] : "";
        const auto bytes = block.Slot(slot);
        EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), Padded(text, kSlotSize)) << "slot " << slot;
    }
    EXPECT_EQ(std::size(kSlotTexts), 38u);
}

}  // namespace
}  // namespace param
