#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "fdp/FdpTypes.h"
#include "fdp/Frame.h"
#include "fdp/PacketDriver.h"
#include "tests/support/JobOutcome.h"

namespace fdp {
namespace {

TEST(LoginResponse, ShortPasswordIsZeroFilledAndOnlyTheLastFourBytesMix) {
    const PasswordBlock block = MakePasswordBlock("0123456789");
    const PasswordBlock response = MakeLoginResponse(block, 0xA1B2C3D4);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(response[i], '0' + i);
    EXPECT_EQ(response[10], 0);
    EXPECT_EQ(response[11], 0);
    // The challenge's bytes as they arrived (little-endian) XOR zero password bytes.
    EXPECT_EQ(response[12], 0xD4);
    EXPECT_EQ(response[13], 0xC3);
    EXPECT_EQ(response[14], 0xB2);
    EXPECT_EQ(response[15], 0xA1);
}

TEST(LoginResponse, LongPasswordUsesItsFirstSixteenBytes) {
    const PasswordBlock block = MakePasswordBlock("ABCDEFGHIJKLMNOPQRST");
    const PasswordBlock response = MakeLoginResponse(block, 0x01020304);
    EXPECT_EQ(std::string(block.begin(), block.end()), "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(response[11], 'L');
    EXPECT_EQ(response[12], 'M' ^ 0x04);
    EXPECT_EQ(response[15], 'P' ^ 0x01);
}

TEST(BlockNumbers, RunFromOneToAThousandThenWrapToZero) {
    struct Case { std::uint16_t counter, next; };
    for (const Case c : {Case{0, 1}, Case{1, 2}, Case{999, 1000}, Case{1000, 0}})
        EXPECT_EQ(NextBlockNumber(c.counter), c.next) << c.counter;
}

TEST(ParseData, NeverReachesPastTheReceivedBytes) {
    // Length field claims 1000 bytes; 4 arrived.
    const std::uint8_t body[] = {0x22, 0xE8, 0x03, 1, 0, 0xAA, 0xBB};
    const auto view = ParseData(body);
    ASSERT_TRUE(view);
    EXPECT_EQ(view->declared, 1000);
    EXPECT_EQ(view->data.size(), 4u);
}

TEST(ParseData, CutsTheDataToTheDeclaredLength) {
    const std::uint8_t body[] = {0x02, 0x01, 0x00, 0x05, 0x00, 0x00};   // padding after the status
    const auto view = ParseData(body);
    ASSERT_TRUE(view);
    EXPECT_EQ(view->data.size(), 1u);
    EXPECT_EQ(view->data[0], 5);
}

TEST(ParseData, DropsBodiesUnderThreeBytes) {
    const std::uint8_t body[] = {0x02, 0x01};
    EXPECT_FALSE(ParseData(body));
    EXPECT_FALSE(ParseData({}));
}

TEST(ParseFrame, RejectsOtherEtherTypesAndShortFrames) {
    std::uint8_t frame[60] = {};
    frame[12] = 0x08;
    EXPECT_FALSE(ParseFrame(frame));
    frame[12] = 0x07;
    frame[13] = 0x07;
    EXPECT_TRUE(ParseFrame(frame));
    EXPECT_FALSE(ParseFrame(std::span(frame, 14)));
}

TEST(BuildFrame, PadsShortPayloadsWithZerosToFortySixBytes) {
    const MacAddress to = {0x00, 0x1b, 0xdc, 0x0a, 0x0b, 0x0c};
    const MacAddress from = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
    struct Case { std::size_t payload, frame; };
    // 21 bytes is a login frame; 0 means refused.
    for (const Case c : {Case{21, 60}, Case{20, 60}, Case{4, 60}, Case{46, 60}, Case{47, 61}, Case{1500, 1514},
                         Case{1501, 0}}) {
        std::vector<std::uint8_t> payload(c.payload);
        for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(0x80 | i);
        // The send buffer is reused: what an earlier frame left there must not show.
        std::vector<std::uint8_t> out(kMaxFrame + 1, 0xEE);
        ASSERT_EQ(BuildFrame(out, to, from, payload), c.frame) << c.payload;
        if (c.frame == 0) {
            EXPECT_EQ(out, std::vector<std::uint8_t>(kMaxFrame + 1, 0xEE)) << "nothing written";
            continue;
        }
        EXPECT_TRUE(std::equal(to.begin(), to.end(), out.begin())) << c.payload;
        EXPECT_TRUE(std::equal(from.begin(), from.end(), out.begin() + 6)) << c.payload;
        EXPECT_EQ(out[12], 0x07);
        EXPECT_EQ(out[13], 0x07);
        EXPECT_TRUE(std::equal(payload.begin(), payload.end(), out.begin() + kEthHeaderLen)) << c.payload;
        EXPECT_TRUE(std::all_of(out.begin() + static_cast<std::ptrdiff_t>(kEthHeaderLen + c.payload),
                                out.begin() + static_cast<std::ptrdiff_t>(c.frame), [](auto b) { return b == 0; }))
            << c.payload;
        EXPECT_EQ(out[c.frame], 0xEE) << "nothing written past the frame";
    }
    std::vector<std::uint8_t> small(59);
    EXPECT_EQ(BuildFrame(small, to, from, std::vector<std::uint8_t>(21)), 0u) << "no room for the padding";
}

TEST(NotifyCodes, MapResultsAndLeaveTheRestWithoutMessage) {
    struct Case { unsigned result; bool has; NotifyCode code; };
    const Case cases[] = {
        {FdpOk, true, NotifySuccess},          {FdpCancelled, true, NotifyCancelled},
        {FdpTimeout, true, NotifyTimeout},     {FdpFileError, true, NotifyFileError},
        {FdpFailed, true, NotifyFailed},       {FdpInvalidOperation, true, NotifyInvalid},
        {FdpNoMemory, false, NotifyProgress},  {FdpAborted, false, NotifyProgress},
        {5, false, NotifyProgress},            {200, false, NotifyProgress},
    };
    for (const Case& c : cases) {
        NotifyCode code = NotifyProgress;
        EXPECT_EQ(NotifyCodeFor(c.result, code), c.has) << c.result;
        if (c.has) {
            EXPECT_EQ(code, c.code) << c.result;
        }
    }
}

TEST(CaptureRecords, AreFourByteAlignedAndRefuseWhatDoesNotFit) {
    std::vector<std::uint8_t> buffer(100);
    const std::vector<std::uint8_t> frame(61, 0x07);
    const std::size_t next = AppendCaptureRecord(buffer, 0, frame, 61);
    EXPECT_EQ(next, 84u);   // 20 + 61 = 81, rounded up
    EXPECT_EQ(AppendCaptureRecord(buffer, next, frame, 61), 0u);
}

}  // namespace
}  // namespace fdp
