// Several targets on one network: the link listens a while before its login and logs in
// to none when several answer in that time (the user chooses from the list); the one
// chosen with --target is the only one logged in to; without a choice, the others that
// announce later are told to the front end; and after a burn of a firmware area the link
// reads that area's version back.
#include "tests/unit/fdp/LinkFixture.h"

#include "fdp/TargetScout.h"

#include <fstream>
#include <iterator>
#include <set>

namespace fdp::test {
namespace {

using namespace std::chrono_literals;

const MacAddress kOther = {0x02, 0x4b, 0x56, 0x00, 0x00, 0x22};

// A frame of the fake target's, sent from another address.
Bytes From(const MacAddress& source, Bytes frame) {
    std::copy(source.begin(), source.end(), frame.begin() + 6);
    return frame;
}

// The login frame's bytes 31-34: the challenge it answers (the password block's last
// four bytes are zero for a short password).
std::uint32_t LoginChallenge(const Bytes& login) {
    return login.size() >= 35 ? ReadLe32(login.data() + 31) : 0;
}

class SeveralTargetsTest : public LinkFixture {
protected:
    void WaitListening() {
        for (int i = 0; i < 500 && engine.Channel()->State() != ChannelListening; ++i) std::this_thread::sleep_for(2ms);
    }
    // The targets of a listen that heard several, once it has ended; empty when it did not.
    std::vector<HeardTarget> WaitSeveral() {
        for (int i = 0; i < 300; ++i) {
            if (auto several = front.SeveralTargets(); !several.empty()) return several;
            std::this_thread::sleep_for(10ms);
        }
        return {};
    }
    bool WaitOpenIndex(int index) {
        for (int i = 0; i < 300 && driver.OpenIndex() != index; ++i) std::this_thread::sleep_for(10ms);
        return driver.OpenIndex() == index;
    }
    bool ConnectMessageCame() {
        const auto messages = front.Messages();
        return std::any_of(messages.begin(), messages.end(),
                           [](const NotifyCall& call) { return call.message == WM_FDP_CONNECT; });
    }
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

struct SeveralCase {
    const char* name;
    int adapters;
    // The announces of the hear-out: source and adapter (0 the one in use; another is
    // heard as the real driver hears it there, without handing it on).
    std::vector<std::pair<MacAddress, int>> announces;
    std::set<std::pair<MacAddress, std::string>> listed;   // address, adapter name
};

class SeveralInTheHearOutTest : public SeveralTargetsTest, public ::testing::WithParamInterface<SeveralCase> {};

TEST_P(SeveralInTheHearOutTest, NoLoginGoesOutAndEveryTargetHeardIsListed) {
    const SeveralCase& c = GetParam();
    driver.adapterCount = c.adapters;
    front.SetPassword("kiwi");
    ASSERT_EQ(front.Listen(), 0);
    WaitListening();
    for (const auto& [source, adapter] : c.announces) {
        if (adapter == 0) driver.Inject(From(source, TargetFrames::Announce(0x11223344)));
        else driver.HearElsewhere(source, adapter);
    }
    const auto several = WaitSeveral();
    std::set<std::pair<MacAddress, std::string>> listed;
    for (const HeardTarget& target : several) {
        listed.emplace(target.address, target.adapter);
        EXPECT_GE(target.announces, 1u);
        EXPECT_LE(std::chrono::steady_clock::now() - target.lastSeen, 5s);
    }
    EXPECT_EQ(listed, c.listed);
    EXPECT_EQ(driver.SentCount(), 0u) << "a login frame went out";
    EXPECT_FALSE(ConnectMessageCame()) << "the listen ends with the list, not a connection result";
    EXPECT_EQ(engine.CurrentJob(), JobNone) << "idle: the user's choice starts the next listen";
    // They go on announcing: nobody is logged in to meanwhile.
    for (const auto& [source, adapter] : c.announces)
        if (adapter == 0) driver.Inject(From(source, TargetFrames::Announce(0x55667788)));
    EXPECT_FALSE(driver.NextSent(300ms));
    EXPECT_NE(engine.State(), StateConnected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SeveralInTheHearOutTest,
    ::testing::Values(
        SeveralCase{"TwoAddresses", 1, {{TargetFrames::kTarget, 0}, {kOther, 0}},
                    {{TargetFrames::kTarget, "fake0"}, {kOther, "fake0"}}},
        SeveralCase{"OneAddressOnTwoAdapters", 2, {{TargetFrames::kTarget, 0}, {TargetFrames::kTarget, 1}},
                    {{TargetFrames::kTarget, "fake0"}, {TargetFrames::kTarget, "fake1"}}},
        SeveralCase{"TwoAddressesOnAnotherAdapter", 2, {{TargetFrames::kTarget, 1}, {kOther, 1}},
                    {{TargetFrames::kTarget, "fake1"}, {kOther, "fake1"}}}),
    [](const ::testing::TestParamInfo<SeveralCase>& row) { return std::string(row.param.name); });

TEST_F(SeveralTargetsTest, TheTargetChosenFromTheListIsLoggedInToOnItsAdapter) {
    driver.adapterCount = 2;
    front.SetPassword("kiwi");
    ASSERT_EQ(front.Listen(), 0);
    WaitListening();
    driver.Inject(TargetFrames::Announce(0x11223344));
    driver.HearElsewhere(TargetFrames::kTarget, 1);
    driver.Inject(From(kOther, TargetFrames::Announce(0x55667788)));
    const auto several = WaitSeveral();
    const auto chosen = std::find_if(several.begin(), several.end(), [](const HeardTarget& t) {
        return t.address == TargetFrames::kTarget && t.adapter == "fake1";
    });
    ASSERT_NE(chosen, several.end());
    EXPECT_EQ(several.size(), 3u);

    ASSERT_EQ(front.LoginTo(*chosen), 0);
    ASSERT_TRUE(WaitOpenIndex(1)) << "the link talks on the adapter the target was heard on";
    // Announces on that adapter now: the other one's is passed over, the chosen one's
    // latest challenge is answered.
    driver.Inject(From(kOther, TargetFrames::Announce(0x0000beef)));
    EXPECT_FALSE(driver.NextSent(200ms)) << "no login for a target not chosen";
    driver.Inject(TargetFrames::Announce(0x0badcafe));
    const auto login = driver.NextSent();
    ASSERT_TRUE(login);
    EXPECT_TRUE(std::equal(TargetFrames::kTarget.begin(), TargetFrames::kTarget.end(), login->begin()));
    EXPECT_EQ((*login)[14], 0x02) << "a login frame";
    EXPECT_EQ(LoginChallenge(*login), 0x0badcafeu);
    driver.Inject(TargetFrames::LoginReply(0));
    const auto result = front.WaitResult(WM_FDP_CONNECT);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->wParam, ConnectOk);
    EXPECT_EQ(engine.State(), StateConnected);
    EXPECT_TRUE(front.SeveralTargets().empty()) << "the list was of the last listen";
    // The user saw the other one and chose: it is no news.
    driver.Inject(From(kOther, TargetFrames::Announce(0x55667788)));
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(front.OtherTargets().empty());
}

// The driver hands on the first announce from another adapter only; a target heard only
// through its note is logged in to there, at its next announce.
TEST_F(SeveralTargetsTest, OneTargetHeardOnlyOnAnotherAdapterIsLoggedInToThere) {
    driver.adapterCount = 2;
    front.SetPassword("kiwi");
    ASSERT_EQ(front.Listen(), 0);
    WaitListening();
    driver.HearElsewhere(TargetFrames::kTarget, 1);
    ASSERT_TRUE(WaitOpenIndex(1));
    EXPECT_EQ(driver.SentCount(), 0u) << "no login before an announce with its challenge";
    driver.Inject(TargetFrames::Announce(0x01020304));
    const auto login = driver.NextSent();
    ASSERT_TRUE(login);
    EXPECT_EQ(LoginChallenge(*login), 0x01020304u);
    driver.Inject(TargetFrames::LoginReply(0));
    const auto result = front.WaitResult(WM_FDP_CONNECT);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->wParam, ConnectOk);
}

// The hear-out at its real ratio to the read time-out: long enough to measure against.
class HearOutTest : public SeveralTargetsTest {
protected:
    static constexpr auto kHearOut = 600ms;
    LinkTimeouts Timeouts() const override {
        LinkTimeouts t = ShortTimeouts();
        t.hearOut = static_cast<std::uint32_t>(kHearOut.count());
        return t;
    }
};

TEST_F(HearOutTest, OneTargetIsLoggedInToWhenTheHearOutIsOverNotLater) {
    front.SetPassword("kiwi");
    const auto listened = std::chrono::steady_clock::now();
    ASSERT_EQ(front.Listen(), 0);
    Announce(0x11223344);
    const auto login = driver.NextSent(3s);
    const auto after = std::chrono::steady_clock::now() - listened;
    ASSERT_TRUE(login);
    EXPECT_GE(after, kHearOut) << "logged in before the hear-out was over";
    EXPECT_LT(after, kHearOut + 250ms) << "the login came later than the hear-out";
    EXPECT_EQ(LoginChallenge(*login), 0x11223344u);
    driver.Inject(TargetFrames::LoginReply(0));
    const auto result = front.WaitResult(WM_FDP_CONNECT);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->wParam, ConnectOk);
}

TEST_F(HearOutTest, ATargetFirstHeardAfterTheHearOutIsLoggedInToAtOnce) {
    front.SetPassword("kiwi");
    ASSERT_EQ(front.Listen(), 0);
    std::this_thread::sleep_for(kHearOut + 100ms);
    const auto announced = std::chrono::steady_clock::now();
    Announce(0x11223344);
    ASSERT_TRUE(driver.NextSent(3s));
    EXPECT_LT(std::chrono::steady_clock::now() - announced, 150ms);
}

TEST_F(HearOutTest, StopEndsTheHearOutAtOnceWithoutALogin) {
    front.SetPassword("kiwi");
    ASSERT_EQ(front.Listen(), 0);
    Announce(0x11223344);
    std::this_thread::sleep_for(100ms);   // inside the hear-out
    const auto stopping = std::chrono::steady_clock::now();
    engine.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, 300ms);
    EXPECT_EQ(driver.SentCount(), 0u);
}

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

// The read-back after a burn must not hold up the technician's next step: a target that
// restarts after its burn answers late or never, and the read-back gives up after 5 s
// (not the transfer's 40 s); a new listen or a new request ends it at once, the version
// then "could not be read".
class ReadBackEndTest : public SeveralTargetsTest {
protected:
    LinkTimeouts Timeouts() const override {
        LinkTimeouts t = ShortTimeouts();
        t.transfer = 40000;   // the real transfer wait: the read-back must not sit it out
        t.readBack = 5000;
        return t;
    }
    // A program burn whose version request the target never answers.
    void BurnWithSilentReadBack() {
        Connect();
        BurnAll(KindProgram);
        ASSERT_TRUE(front.WaitStage(33));
        const SentData request = NextData();
        ASSERT_EQ(request.code, FDP_CMD_TRANSFER);
        ASSERT_GE(request.data.size(), 1u);
        ASSERT_EQ(request.data[0], 8) << "the version request";
    }
    void ExpectUnreadWithin(std::chrono::steady_clock::time_point since, std::chrono::milliseconds bound) {
        ASSERT_TRUE(front.WaitBurntVersion(bound + 1s));
        EXPECT_LT(std::chrono::steady_clock::now() - since, bound);
        const auto versions = front.BurntVersions();
        ASSERT_EQ(versions.size(), 1u);
        EXPECT_FALSE(versions[0].second.has_value()) << "an ended read-back read nothing";
    }
};

TEST_F(ReadBackEndTest, ANewListenIsAcceptedAtOnceAndEndsTheReadBack) {
    BurnWithSilentReadBack();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(front.Listen(), 0) << "the listen was refused while the version was read back";
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    ExpectUnreadWithin(start, 500ms);
    // The listen goes on: the target announces again after its restart and is logged in.
    AnswerListen();
}

TEST_F(ReadBackEndTest, ANewRequestEndsTheReadBackAndRunsAtOnce) {
    BurnWithSilentReadBack();
    const auto start = std::chrono::steady_clock::now();
    auto block = MakeBuffer(kVersionBlockLen);
    (*block)[0] = 14;
    ASSERT_EQ(front.GetTargetVersion(block), 0);
    ExpectUnreadWithin(start, 500ms);
    const SentData request = NextData(1s);
    EXPECT_EQ(request.code, FDP_CMD_TRANSFER) << "the new request ran after the read-back";
}

TEST_F(ReadBackEndTest, ASilentTargetIsGivenUpAfterTheReadBackWaitNotTheTransferWait) {
    BurnWithSilentReadBack();
    const auto start = std::chrono::steady_clock::now();
    ExpectUnreadWithin(start, 6s);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 4500ms);
}

}  // namespace
}  // namespace fdp::test
