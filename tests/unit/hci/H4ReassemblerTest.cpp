#include "hci/H4Reassembler.h"

#include <gtest/gtest.h>

#include <vector>

namespace hci {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct StreamCase {
    const char* name;
    Bytes stream;
    std::size_t readSize;           // bytes per Feed; 0: all at once
    std::vector<Bytes> packets;     // from the indicator on
    std::size_t skipped;
};

class H4ReassemblerTest : public ::testing::TestWithParam<StreamCase> {};

TEST_P(H4ReassemblerTest, CutsTheStreamIntoWholePackets) {
    const StreamCase& c = GetParam();
    CH4Reassembler reassembler;
    std::vector<Bytes> got;
    const auto deliver = [&got](std::span<const std::uint8_t> packet) {
        ASSERT_GE(packet.size(), 5u);
        EXPECT_EQ(Bytes(packet.begin(), packet.begin() + 4), Bytes(4, 0)) << "the unused head";
        got.emplace_back(packet.begin() + 4, packet.end());
    };
    const std::size_t step = c.readSize ? c.readSize : c.stream.size();
    for (std::size_t at = 0; at < c.stream.size(); at += step)
        reassembler.Feed(std::span(c.stream).subspan(at, std::min(step, c.stream.size() - at)), deliver);
    EXPECT_EQ(got, c.packets);
    EXPECT_EQ(reassembler.SkippedBytes(), c.skipped);
}

const Bytes kReset = {0x04, 0x0E, 0x04, 0x01, 0x03, 0x0C, 0x00};
const Bytes kAcl = {0x02, 0x2A, 0x20, 0x03, 0x00, 0x05, 0x05, 0x05};
Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}
Bytes LongAcl() {   // a length whose high byte matters
    Bytes acl = {0x02, 0x01, 0x20, 0x2C, 0x01};
    acl.resize(5 + 300, 0x06);
    return acl;
}

INSTANTIATE_TEST_SUITE_P(
    Streams, H4ReassemblerTest,
    ::testing::Values(
        StreamCase{"OneEvent", kReset, 0, {kReset}, 0},
        StreamCase{"ByteByByte", Join({kReset, kAcl}), 1, {kReset, kAcl}, 0},
        StreamCase{"SeveralInOneRead", Join({kAcl, kReset, kAcl}), 0, {kAcl, kReset, kAcl}, 0},
        StreamCase{"SplitAcrossHeaders", Join({kReset, kAcl}), 3, {kReset, kAcl}, 0},
        StreamCase{"SixteenBitAclLength", LongAcl(), 7, {LongAcl()}, 0},
        StreamCase{"EmptyAclAndEvent", Bytes{0x02, 0x2A, 0x20, 0x00, 0x00, 0x04, 0x13, 0x00},
                   0, {Bytes{0x02, 0x2A, 0x20, 0x00, 0x00}, Bytes{0x04, 0x13, 0x00}}, 0},
        StreamCase{"UnknownIndicatorSkipped", Join({Bytes{0xFF, 0x00}, kReset}), 0, {kReset}, 2},
        StreamCase{"UnfinishedPacketWaits", Bytes(kAcl.begin(), kAcl.end() - 1), 1, {}, 0}),
    [](const ::testing::TestParamInfo<StreamCase>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace hci
