// Several targets on one network: the one chosen with --target is the only one logged in
// to; without a choice, the others that announce are told to the front end; and after a
// burn of a firmware area the link reads that area's version back.
#include "tests/unit/fdp/LinkFixture.h"

#include "fdp/TargetScout.h"

#include <fstream>
#include <iterator>

namespace fdp::test {
namespace {

using namespace std::chrono_literals;

const MacAddress kOther = {0x02, 0x4b, 0x56, 0x00, 0x00, 0x22};

// A frame of the fake target's, sent from another address.
Bytes From(const MacAddress& source, Bytes frame) {
    std::copy(source.begin(), source.end(), frame.begin() + 6);
    return frame;
}

class SeveralTargetsTest : public LinkFixture {
protected:
    bool WaitOthers(std::size_t count) {
        for (int i = 0; i < 200; ++i) {
            if (front.OtherTargets().size() >= count) return true;
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }
    // A staged download of a firmware area, every step acknowledged, up to the burn's end.
    void BurnAll(std::uint8_t kind) {
        ASSERT_EQ(front.StartDownload(kind, WriteFile(kind == KindBoot ? "boot.bin" : "program.bin", 1500)), 0);
        EXPECT_EQ(NextData().code, FDP_CMD_START);
        Ack();
        for (int block = 0; block < 2; ++block) {
            NextData();
            Ack();
        }
        EXPECT_EQ(NextData().code, EraseCode(kind));
        driver.Inject(TargetFrames::Status(FDP_RSP_ERASE, 0));
        EXPECT_EQ(NextData().code, FDP_CMD_BURN);
        Ack();
    }
    std::string History() {
        std::ifstream in(front.HistoryPath());
        return {std::istreambuf_iterator<char>(in), {}};
    }
};

TEST_F(SeveralTargetsTest, OnlyTheChosenTargetIsLoggedInTo) {
    engine.Channel()->SetChosenTarget(TargetFrames::kTarget);
    front.SetPassword("kiwi");
    ASSERT_EQ(front.Listen(), 0);
    for (int i = 0; i < 500 && engine.Channel()->State() != ChannelListening; ++i) std::this_thread::sleep_for(2ms);
    const int scouting = driver.scoutingStarts;
    driver.Inject(From(kOther, TargetFrames::Announce(0x55667788)));
    EXPECT_FALSE(driver.NextSent(200ms)) << "no login for a target not chosen";
    EXPECT_EQ(engine.Channel()->State(), ChannelListening);
    // The driver may have moved to the adapter that one announced on: it listens on
    // every candidate again, or the chosen one behind another adapter is never heard.
    EXPECT_GT(driver.scoutingStarts, scouting);

    driver.Inject(TargetFrames::Announce(0x11223344));
    const auto login = driver.NextSent();
    ASSERT_TRUE(login);
    EXPECT_TRUE(std::equal(TargetFrames::kTarget.begin(), TargetFrames::kTarget.end(), login->begin()));
    driver.Inject(TargetFrames::LoginReply(0));
    const auto result = front.WaitResult(WM_FDP_CONNECT);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->wParam, ConnectOk);
    // With a choice made the others are not news: they were passed over on purpose.
    driver.Inject(From(kOther, TargetFrames::Announce(0x55667788)));
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(front.OtherTargets().empty());
}

TEST_F(SeveralTargetsTest, AnotherTargetAnnouncingWhileLoggedInIsToldOnce) {
    front.SetAdapter(0, 1, true);
    Connect();
    EXPECT_TRUE(front.OtherTargets().empty());
    driver.Inject(TargetFrames::Announce(0x99));   // the target itself announcing again is no news
    for (int i = 0; i < 3; ++i) driver.Inject(From(kOther, TargetFrames::Announce(0x55667788)));
    ASSERT_TRUE(WaitOthers(1));
    std::this_thread::sleep_for(100ms);
    const auto others = front.OtherTargets();
    ASSERT_EQ(others.size(), 1u) << "told once, however often it announces";
    EXPECT_EQ(others[0].address, kOther);
    EXPECT_EQ(others[0].adapter, "fake0");
    EXPECT_EQ(engine.State(), StateConnected) << "the link goes on with its own target";
}

// Another unit, or another PC's target, may send data frames on the same network: only
// the logged-in target's answers count.
TEST_F(SeveralTargetsTest, DataFromAnotherAddressIsNotTakenAsTheAnswer) {
    Connect();
    auto block = MakeBuffer(kVersionBlockLen);
    (*block)[0] = 14;
    ASSERT_EQ(front.GetTargetVersion(block), 0);
    EXPECT_EQ(NextData().code, FDP_CMD_TRANSFER);
    const std::vector<std::uint8_t> foreign = {0x01, 0x02, 0x03, 0x04};
    driver.Inject(From(kOther, TargetFrames::Numbered(FDP_RSP_TRANSFER_DATA, 1, foreign)));
    driver.Inject(From(kOther, TargetFrames::Status(FDP_RSP_TRANSFER_END, 0)));
    EXPECT_FALSE(front.WaitResult(WM_FDP_TRANSFER, 200ms)) << "another's end ended our request";
    const std::vector<std::uint8_t> own = {0x02, 0x03, 0x08, 0x02};
    driver.Inject(TargetFrames::Numbered(FDP_RSP_TRANSFER_DATA, 1, own));
    driver.Inject(TargetFrames::Status(FDP_RSP_TRANSFER_END, 0));
    const auto result = front.WaitResult(WM_FDP_TRANSFER);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->wParam, NotifySuccess);
    EXPECT_TRUE(std::equal(own.begin(), own.end(), block->begin()));
}

struct ReadBackCase {
    const char* name;
    std::uint8_t kind;
    std::uint8_t wanted;                           // byte 0 of the version request
    std::optional<std::vector<std::uint8_t>> answer;   // nothing: the target stays silent
    const char* history;                           // the history line's versionAfter
};

class ReadBackTest : public SeveralTargetsTest, public ::testing::WithParamInterface<ReadBackCase> {};

TEST_P(ReadBackTest, AfterABurnTheAreasVersionIsReadAgain) {
    const ReadBackCase& c = GetParam();
    Connect();
    BurnAll(c.kind);
    ASSERT_TRUE(front.WaitStage(c.kind == KindBoot ? 13 : 33));
    const SentData request = NextData();
    EXPECT_EQ(request.code, FDP_CMD_TRANSFER);
    ASSERT_GE(request.data.size(), 2u);
    EXPECT_EQ(request.data[0], 8) << "the version request";
    EXPECT_EQ(request.data[1], c.wanted);
    if (c.answer) {
        driver.Inject(TargetFrames::Numbered(FDP_RSP_TRANSFER_DATA, 1, *c.answer));
        driver.Inject(TargetFrames::Status(FDP_RSP_TRANSFER_END, 0));
    }
    ASSERT_TRUE(front.WaitBurntVersion(5s));
    const auto versions = front.BurntVersions();
    ASSERT_EQ(versions.size(), 1u);
    EXPECT_EQ(versions[0].first, c.kind);
    EXPECT_EQ(versions[0].second.has_value(), c.answer.has_value());
    if (versions[0].second) {
        EXPECT_EQ(versions[0].second->Text(), c.history);
    }
    const std::string history = History();
    EXPECT_NE(history.find(std::string("\"versionAfter\":\"") + c.history + "\""), std::string::npos) << history;
    EXPECT_EQ(std::count(history.begin(), history.end(), '\n'), 1) << "one line for the download";
}

INSTANTIATE_TEST_SUITE_P(
    Areas, ReadBackTest,
    ::testing::Values(ReadBackCase{"program", KindProgram, 14, std::vector<std::uint8_t>{0x02, 0x03, 0x08, 0x02}, "2.8.3.2"},
                      ReadBackCase{"boot", KindBoot, 13, std::vector<std::uint8_t>{0x00, 0x00, 0x01, 0x01}, "1.1.0.0"},
                      ReadBackCase{"silent", KindProgram, 14, std::nullopt, "unread"}),
    [](const ::testing::TestParamInfo<ReadBackCase>& row) { return std::string(row.param.name); });

TEST_F(SeveralTargetsTest, AParameterBurnIsNotReadBack) {
    Connect();
    ASSERT_EQ(front.StartDownload(KindParam, WriteFile("param.jdp", 8192)), 0);
    NextData();
    Ack();
    for (int block = 0; block < 8; ++block) {
        NextData();
        Ack();
    }
    EXPECT_EQ(NextData().code, EraseCode(KindParam));
    driver.Inject(TargetFrames::Status(FDP_RSP_ERASE, 0));
    EXPECT_EQ(NextData().code, FDP_CMD_BURN);
    Ack();
    ASSERT_TRUE(front.WaitStage(53));
    EXPECT_FALSE(driver.NextSent(300ms)) << "nothing asked after a parameter burn";
    EXPECT_TRUE(front.BurntVersions().empty());
    EXPECT_EQ(History().find("versionAfter"), std::string::npos);
}

// `kelvane-cli targets`: every address that announces, how often, without a login.
TEST(TargetScoutTest, ListsEveryTargetThatAnnouncesWithoutLoggingIn) {
    FakePacketDriver driver;
    driver.Init(nullptr);
    CTargetScout scout(driver);
    ASSERT_EQ(scout.OpenFirstAdapter(), 0);
    std::thread target([&] {
        for (int round = 0; round < 3; ++round) {
            driver.Inject(TargetFrames::Announce(0x1000u + round));
            if (round < 2) driver.Inject(From(kOther, TargetFrames::Announce(0x2000u + round)));
            std::this_thread::sleep_for(30ms);
        }
        // Not an announce.
        driver.Inject(From(kOther, TargetFrames::LoginReply(0)));
    });
    const auto heard = scout.Listen(400ms);
    target.join();
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard[0].address, TargetFrames::kTarget);
    EXPECT_EQ(heard[0].announces, 3u);
    EXPECT_EQ(heard[0].adapter, "fake0");
    EXPECT_EQ(heard[1].address, kOther);
    EXPECT_EQ(heard[1].announces, 2u);
    EXPECT_EQ(driver.SentCount(), 0u) << "nothing is sent: no login";
    driver.Uninit();
}

TEST(TargetScoutTest, StopEndsTheListeningAtOnce) {
    FakePacketDriver driver;
    driver.Init(nullptr);
    CTargetScout scout(driver);
    ASSERT_EQ(scout.OpenFirstAdapter(), 0);
    std::thread stopper([&] {
        std::this_thread::sleep_for(100ms);
        scout.Stop();
    });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(scout.Listen(10s).empty());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
    stopper.join();
    driver.Uninit();
}

}  // namespace
}  // namespace fdp::test
