#include <gtest/gtest.h>

#include "fdp/FdpTypes.h"
#include "fdp/Frame.h"
#include "fdp/PacketDriver.h"

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
