// A tool serving one target after another listens past the targets it has served.
#include "tests/unit/fdp/LinkFixture.h"

namespace fdp::test {
namespace {

using namespace std::chrono_literals;

class IgnoredTargetsTest : public LinkFixture {};

TEST_F(IgnoredTargetsTest, ServedTargetsAnnouncePastTheListeningChannel) {
    engine.Channel()->SetIgnoredTargets({TargetFrames::kTarget});
    front.SetPassword("kiwi");
    ASSERT_EQ(front.Listen(), 0);
    Announce(0x11223344);
    EXPECT_FALSE(driver.NextSent(200ms)) << "no login for a served target";

    // A new target: the same frame from another address.
    auto frame = TargetFrames::Announce(0x55667788);
    const MacAddress fresh = {0x02, 0x4b, 0x56, 0x00, 0x00, 0x09};
    std::copy(fresh.begin(), fresh.end(), frame.begin() + 6);
    driver.Inject(frame);
    const auto login = driver.NextSent();
    ASSERT_TRUE(login);
    EXPECT_TRUE(std::equal(fresh.begin(), fresh.end(), login->begin())) << "sent to the new target";
    // The reply comes from the new target: one from another address is not its answer.
    auto reply = TargetFrames::LoginReply(0);
    std::copy(fresh.begin(), fresh.end(), reply.begin() + 6);
    driver.Inject(reply);
    const auto result = front.WaitResult(WM_FDP_CONNECT);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->wParam, ConnectOk);
    EXPECT_EQ(engine.Channel()->TargetAddress(), fresh);
}

}  // namespace
}  // namespace fdp::test
