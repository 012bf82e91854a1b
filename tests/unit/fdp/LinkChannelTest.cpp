// The login layer under a flood of frames from the target.
#include <gtest/gtest.h>

#include <thread>

#include "tests/unit/fdp/LinkFixture.h"

namespace fdp::test {
namespace {

using namespace std::chrono_literals;

class LinkChannelTest : public LinkFixture {};

// The target announces itself in a burst that fills one read; the login wait is armed
// while the receiver still walks the burst. No announce may complete it: without a
// login reply the connection times out.
TEST_F(LinkChannelTest, AnnouncesInOneReadNeverCompleteTheLoginWait) {
    const Bytes announce = TargetFrames::Announce(0x01020304);
    constexpr std::size_t kBurst = 3200;
    Bytes records((kCaptureHeaderLen + announce.size() + 4) * kBurst, 0);
    std::size_t end = 0;
    for (std::size_t i = 0; i < kBurst; ++i)
        end = AppendCaptureRecord(records, end, announce, static_cast<std::uint32_t>(announce.size()));
    records.resize(end);

    ASSERT_EQ(front.Listen(), 0);
    for (int i = 0; i < 500 && engine.Channel()->State() != ChannelListening; ++i) std::this_thread::sleep_for(2ms);
    driver.InjectRecords(records);
    const auto result = front.WaitResult(WM_FDP_CONNECT);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->wParam, ConnectTimeout) << "connected with no login reply";
    EXPECT_NE(engine.State(), StateConnected);
}

}  // namespace
}  // namespace fdp::test
