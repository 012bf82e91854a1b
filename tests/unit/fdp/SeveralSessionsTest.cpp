// Two link sessions in one process over one packet driver, each logged in to its own
// target: both download at once, and each target ends up with its own image, byte for
// byte, while each session hears only of its own target.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "fdp/LinkSession.h"
#include "fdp/LinkChannel.h"
#include "fdp/LinkDispatcher.h"
#include "tests/support/FakePacketDriver.h"
#include "tests/support/RecordingFrontEnd.h"

namespace fdp::test {
namespace {

using namespace std::chrono_literals;

// A target on the wire: answers the login and a parameter download (start 0x0B, numbered
// blocks of the area's code 0x05, erase 0x15, burn 0x07) addressed to it, from its own
// address, and keeps the blocks' data.
class WireTarget {
public:
    WireTarget(FakePacketDriver& driver, MacAddress address) : m_driver(driver), m_address(address) {}

    const MacAddress& Address() const { return m_address; }
    void Announce() { Send(TargetFrames::Announce(0x11223344)); }

    // A frame the PC sent (any worker thread).
    void OnSent(const Bytes& frame) {
        if (!std::equal(m_address.begin(), m_address.end(), frame.begin())) return;
        if (frame[14] == 0x02) {   // login
            Send(TargetFrames::LoginReply(0));
            return;
        }
        const auto sent = ParseSent(frame);
        if (!sent) return;
        std::lock_guard lock(m_lock);
        switch (sent->code) {
        case 0x0B: m_image.clear(); break;   // the download's start: area and length
        case 0x05: m_image.insert(m_image.end(), sent->data.begin() + 2, sent->data.end()); break;
        case 0x15: Send(TargetFrames::Status(0x12, 0)); return;   // erased
        case 0x07: ++m_burns; break;
        default: return;
        }
        Send(TargetFrames::Status(0x02, 0));
    }

    Bytes Image() {
        std::lock_guard lock(m_lock);
        return m_image;
    }
    int Burns() {
        std::lock_guard lock(m_lock);
        return m_burns;
    }

private:
    void Send(Bytes frame) {
        std::copy(m_address.begin(), m_address.end(), frame.begin() + 6);
        m_driver.Inject(frame);
    }

    FakePacketDriver& m_driver;
    const MacAddress m_address;
    std::mutex m_lock;
    Bytes m_image;
    int m_burns = 0;
};

struct Session {
    RecordingFrontEnd front;
    CLinkSession engine;
    std::vector<LinkEvent> events;   // every event the session published, in order
    std::mutex lock;
};

class SeveralSessionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = std::filesystem::temp_directory_path() / ("kelvane-sessions-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        driver.onSend = [this](const Bytes& frame) {
            std::lock_guard lock(sendLock);
            sentTo.push_back(frame[5]);
            for (WireTarget* target : {&x, &y}) target->OnSent(frame);
        };
        dispatcher.Start();
        for (Session* s : {&a, &b}) {
            s->front.onEvent = [s](const LinkEvent& event) {
                std::lock_guard lock(s->lock);
                s->events.push_back(event);
            };
            s->engine.SetTimeouts(ShortWaits());
            ASSERT_EQ(s->engine.Start(dispatcher, &s->front), 1);
            s->front.SetLink(&s->engine, &driver);
        }
    }
    void TearDown() override {
        for (Session* s : {&a, &b}) s->engine.Stop();
        dispatcher.Stop();
        std::filesystem::remove_all(folder);
    }

    static LinkTimeouts ShortWaits() {
        LinkTimeouts t;
        t.listen = 3000;
        t.hearOut = 100;
        t.login = 500;
        return t;
    }

    std::string WriteImage(const char* name, std::uint8_t seed) {
        const auto path = folder / name;
        std::ofstream out(path, std::ios::binary);
        for (std::size_t i = 0; i < 8192; ++i) out.put(static_cast<char>((i * seed + i / 256) & 0xFF));
        return path.string();
    }
    static Bytes ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return Bytes{std::istreambuf_iterator<char>(in), {}};
    }

    // The first session logs in to whichever target answers (x, alone); then the second
    // listens for y by name while both announce, as units on a bench do.
    void LogInBoth() {
        ASSERT_EQ(a.engine.EnumerateAdapters(), 1);
        ASSERT_EQ(a.engine.OpenAdapter(0), OpenOk);
        ASSERT_EQ(b.engine.OpenAdapter(0), OpenAlreadyOpen);   // the adapter the first opened
        ASSERT_EQ(a.front.Listen(), 0);
        const auto ra = Announcing({&x}, a.front);
        ASSERT_TRUE(ra);
        EXPECT_EQ(ra->wParam, 0u);
        b.engine.Channel()->SetChosenTarget(y.Address());
        ASSERT_EQ(b.front.Listen(), 0);
        const auto rb = Announcing({&x, &y}, b.front);
        ASSERT_TRUE(rb);
        EXPECT_EQ(rb->wParam, 0u);
        EXPECT_EQ(a.front.TargetAddress(), x.Address());
        EXPECT_EQ(b.front.TargetAddress(), y.Address());
    }
    // The targets announce every 20 ms until the listen's connection result.
    std::optional<NotifyCall> Announcing(std::vector<WireTarget*> targets, RecordingFrontEnd& front) {
        std::atomic<bool> announcing{true};
        std::thread beacon([&] {
            while (announcing) {
                for (WireTarget* target : targets) target->Announce();
                std::this_thread::sleep_for(20ms);
            }
        });
        auto result = front.WaitResult(WM_FDP_CONNECT);
        announcing = false;
        beacon.join();
        return result;
    }

    std::filesystem::path folder;
    FakePacketDriver driver;
    CLinkDispatcher dispatcher{driver};
    WireTarget x{driver, {0x00, 0x1b, 0xdc, 0x00, 0x00, 0x0a}};
    WireTarget y{driver, {0x00, 0x1b, 0xdc, 0x00, 0x00, 0x0b}};
    Session a, b;
    std::mutex sendLock;
    std::vector<std::uint8_t> sentTo;   // the last byte of each sent frame's destination
};

TEST_F(SeveralSessionsTest, TwoDownloadsInterleaveAndEachTargetGetsItsOwnImage) {
    ASSERT_NO_FATAL_FAILURE(LogInBoth());
    const std::string imageA = WriteImage("a.jdp", 3), imageB = WriteImage("b.jdp", 5);
    ASSERT_EQ(a.front.StartDownload(KindParam, imageA), 0);
    ASSERT_EQ(b.front.StartDownload(KindParam, imageB), 0);
    ASSERT_TRUE(a.front.WaitStage(53));
    ASSERT_TRUE(b.front.WaitStage(53));

    EXPECT_EQ(x.Image(), ReadFile(imageA));
    EXPECT_EQ(y.Image(), ReadFile(imageB));
    EXPECT_EQ(x.Burns(), 1);
    EXPECT_EQ(y.Burns(), 1);
    EXPECT_EQ(a.front.Reports().back().result, 0u);
    EXPECT_EQ(b.front.Reports().back().result, 0u);

    // At once, not one after the other: frames to y went out between the first and the
    // last frame to x.
    std::vector<std::uint8_t> order;
    {
        std::lock_guard lock(sendLock);
        order = sentTo;
    }
    const auto firstX = std::find(order.begin(), order.end(), 0x0a);
    const auto lastX = std::find(order.rbegin(), order.rend(), 0x0a).base();
    EXPECT_NE(std::find(firstX, lastX, 0x0b), lastX) << "the downloads ran one after the other";

    // Each session heard only of its own target: no other target, one download each.
    for (Session* s : {&a, &b}) {
        std::lock_guard lock(s->lock);
        int ends = 0;
        for (const LinkEvent& event : s->events) {
            EXPECT_FALSE(std::holds_alternative<OtherTargetHeard>(event));
            EXPECT_FALSE(std::holds_alternative<SeveralTargetsHeard>(event));
            if (const auto* end = std::get_if<JobEnded>(&event); end && end->job == JobDownloadBurn) ++ends;
        }
        EXPECT_EQ(ends, 1);
    }
}

// A session stopped while the other is logged in leaves it logged in and serving.
TEST_F(SeveralSessionsTest, StoppingOneSessionLeavesTheOtherServing) {
    ASSERT_NO_FATAL_FAILURE(LogInBoth());
    a.engine.Stop();
    const std::string image = WriteImage("b.jdp", 7);
    ASSERT_EQ(b.front.StartDownload(KindParam, image), 0);
    ASSERT_TRUE(b.front.WaitStage(53));
    EXPECT_EQ(y.Image(), ReadFile(image));
    EXPECT_EQ(b.front.Reports().back().result, 0u);
}

}  // namespace
}  // namespace fdp::test
