#include "fdp/param/StandardBlock.h"

#include <algorithm>
#include <string_view>

namespace param {
namespace {

using namespace std::string_view_literals;

// A row and its default value as stored bytes (shorter values are NUL-padded).
struct StandardRow {
    std::uint16_t id;
    std::uint16_t type;
    std::uint16_t length;
    std::uint16_t descIndex;
    std::string_view value;
};

// Ids 1-63. Numbers are in the target's byte order: parameters 1, 13, 14 and 23 most
// significant byte first, the row count and the masks least significant first.
constexpr StandardRow kFixedRows[] = {
    {1, ParamInternal, 4, 0, "\0\0\0\2"sv},          // block format 2
    {2, ParamInternal, 4, 0, "\x5B\0\0\0"sv},        // row count 91
    {3, ParamCode, 16, 6, "4826"sv},
    {4, ParamSwitch, 1, 1, "\1"sv},
    {5, ParamSwitch, 1, 2, "\1"sv},
    {6, ParamSwitch, 1, 7, "\1"sv},
    {7, ParamAddress, 6, 3, "\0\0\0\0\0\1"sv},
    {8, ParamData, 64, 4, "Jox NAP"sv},
    {9, ParamInternal, 1, 0, "\3"sv},
    {10, ParamSwitch, 1, 8, "\1"sv},
    {11, ParamAddress, 6, 9, "\1\2\3\4\5\6"sv},
    {12, ParamSwitch, 4, 22, ""sv},                  // modifiedMask
    {13, ParamInternal, 4, 0, "\0\0\0\1"sv},         // boot firmware version
    {14, ParamInternal, 4, 0, "\0\0\0\1"sv},         // program firmware version
    {15, ParamAddress, 4, 12, ""sv},                 // WAN address 0.0.0.0
    {16, ParamAddress, 4, 13, ""sv},
    {17, ParamAddress, 4, 14, ""sv},
    {18, ParamAddress, 4, 15, ""sv},
    {19, ParamData, 2, 16, "\x80\x65"sv},
    {20, ParamData, 2, 16, "\x03\0"sv},
    {21, ParamAddress, 4, 17, "\xC0\xA8\x01\x01"sv},  // 192.168.1.1
    {22, ParamAddress, 4, 18, "\xC0\xA8\x01\x02"sv},  // 192.168.1.2
    {23, ParamData, 4, 19, "\0\0\x02\x58"sv},        // lease of 600
    {24, ParamSwitch, 1, 20, "\1"sv},
    {25, ParamSwitch, 1, 21, "\0"sv},
    {26, ParamSwitch, 4, 23, ""sv},
    {27, ParamCode, 1, 24, "\0"sv},
    {28, ParamCode, 1, 25, "\0"sv},
    {29, ParamCode, 16, 26, "4826"sv},
};

// Ids 30-55: paired device, handset and phone records, all zero.
struct RecordRange {
    std::uint16_t first;
    std::uint16_t last;
    std::uint16_t descIndex;
};
constexpr RecordRange kPairedRecords[] = {{30, 49, 27}, {50, 52, 28}, {53, 55, 29}};
constexpr std::uint16_t kPairedRecordLength = 22;

constexpr StandardRow kRegisterRows[] = {
    {56, ParamCode, 1, 30, "\0"sv},
    {57, ParamData, 32, 31, ""sv},
    {58, ParamSwitch, 4, 32, ""sv},                  // registerMask
    {59, ParamData, 64, 33, ""sv},
    {60, ParamData, 64, 34, ""sv},
    {61, ParamData, 64, 35, ""sv},
    {62, ParamData, 32, 36, ""sv},
    {63, ParamData, 32, 37, ""sv},
};

// Ids 101-128: seven access control records of address, name, code and switch;
// the first two are filled in.
constexpr int kAccessRecords = 7;
constexpr std::uint16_t kAccessFirstId = 101;
constexpr std::uint16_t kAccessDescIndex = 5;
constexpr std::string_view kAccessAddress[] = {"\0\0\0\0\0\2"sv, "\0\0\0\0\0\3"sv};

constexpr std::string_view kDescriptions[] = {
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

// Appends rows in table order, packing each value right after the previous one.
class BlockBuilder {
public:
    void Add(const StandardRow& row) {
        m_block.SetRow(m_rows, {row.id, row.type, row.length, row.descIndex});
        std::copy(row.value.begin(), row.value.end(), m_block.Image().begin() + static_cast<std::ptrdiff_t>(m_offset));
        ++m_rows;
        m_offset += row.length;
    }
    ParamBlock Finish() {
        for (std::size_t slot = 0; slot < std::size(kDescriptions); ++slot)
            std::copy(kDescriptions[slot].begin(), kDescriptions[slot].end(), m_block.Slot(slot).begin());
        return m_block;
    }

private:
    ParamBlock m_block;
    int m_rows = 0;
    std::size_t m_offset = 0;
};

}  // namespace

ParamBlock MakeStandardBlock() {
    BlockBuilder builder;
    for (const StandardRow& row : kFixedRows) builder.Add(row);
    for (const RecordRange& range : kPairedRecords)
        for (std::uint16_t id = range.first; id <= range.last; ++id)
            builder.Add({id, ParamData, kPairedRecordLength, range.descIndex, ""sv});
    for (const StandardRow& row : kRegisterRows) builder.Add(row);
    for (int k = 0; k < kAccessRecords; ++k) {
        const bool filled = k < 2;
        const auto id = static_cast<std::uint16_t>(kAccessFirstId + 4 * k);
        builder.Add({id, ParamAddress, 6, kAccessDescIndex, filled ? kAccessAddress[k] : ""sv});
        builder.Add({static_cast<std::uint16_t>(id + 1), ParamData, 64, kAccessDescIndex,
                     filled ? "Jox NAP~"sv : ""sv});
        builder.Add({static_cast<std::uint16_t>(id + 2), ParamCode, 16, kAccessDescIndex,
                     filled ? "3197"sv : ""sv});
        builder.Add({static_cast<std::uint16_t>(id + 3), ParamSwitch, 1, kAccessDescIndex,
                     filled ? "\1"sv : "\0"sv});
    }
    return builder.Finish();
}

}  // namespace param
