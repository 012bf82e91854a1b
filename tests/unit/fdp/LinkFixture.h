// An engine on the in-memory driver, with the test playing the target.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include "fdp/LinkSession.h"
#include "fdp/LinkChannel.h"
#include "fdp/LinkProtocol.h"
#include "tests/support/FakePacketDriver.h"
#include "tests/support/RecordingFrontEnd.h"

namespace fdp::test {

// Short waits so that time-outs cost little; the ratios between them are kept.
inline LinkTimeouts ShortTimeouts() {
    LinkTimeouts t;
    t.listen = 2000;
    t.hearOut = 100;
    t.login = 500;
    t.status = 150;
    t.flashShort = 600;
    t.flashLong = 800;
    t.params = 1000;
    t.transfer = 1000;
    t.readBack = 300;
    t.trace = 1000;
    return t;
}

class LinkFixture : public ::testing::Test {
protected:
    void SetUp() override {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '-');   // parameterised names hold a slash
        folder = std::filesystem::temp_directory_path() / ("kelvane-unit-" + std::to_string(::getpid()) + "-" + name);
        std::filesystem::create_directories(folder);
        front.SetProgramFolder(folder.string());
        ASSERT_EQ(front.StartLink(), 1);
        engine.SetTimeouts(Timeouts());
        ASSERT_EQ(engine.Start(&driver, &front), 1);
        front.SetLink(&engine, &driver);
        ASSERT_EQ(engine.EnumerateAdapters(), 1);
        ASSERT_EQ(engine.OpenAdapter(0), OpenOk);
    }
    // The link's waits for this test, set before the engine starts.
    virtual LinkTimeouts Timeouts() const { return ShortTimeouts(); }

    void TearDown() override {
        engine.Stop();
        front.ShutdownLink();
        std::filesystem::remove_all(folder);
    }

    // The target announces itself again and again; one announce is enough here, once
    // the channel listens for it.
    void Announce(std::uint32_t challenge, std::uint32_t second = 0, std::uint32_t third = 0) {
        for (int i = 0; i < 500 && engine.Channel()->State() != ChannelListening; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        driver.Inject(TargetFrames::Announce(challenge, second, third));
    }

    void Connect() {
        front.SetPassword("kiwi");
        ASSERT_EQ(front.Listen(), 0);
        AnswerListen();
    }
    // The target announces itself to the listening link and accepts its login.
    void AnswerListen() {
        Announce(0x11223344);
        ASSERT_TRUE(driver.NextSent());   // the login frame
        driver.Inject(TargetFrames::LoginReply(0));
        const auto result = front.WaitResult(WM_FDP_CONNECT);
        ASSERT_TRUE(result);
        ASSERT_EQ(result->wParam, ConnectOk);
        ASSERT_EQ(engine.State(), StateConnected);
    }

    // The next data frame the PC sent, failing the test when none came.
    SentData NextData(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        const auto frame = driver.NextSent(timeout);
        if (!frame) {
            ADD_FAILURE() << "no frame sent";
            return {};
        }
        const auto data = ParseSent(*frame);
        if (!data) ADD_FAILURE() << "not a data frame";
        return data.value_or(SentData{});
    }

    // A download burnt at once (job 1): the wizard only ever stages its downloads.
    int SubmitDownloadAndBurn(std::uint8_t kind, const std::string& path) {
        FdpRequest request;
        request.job = JobDownloadBurn;
        request.kind = kind;
        request.path = path;
        return engine.Submit(request);
    }

    // 0x02: the status reply of the download group.
    void Ack(std::uint8_t status = 0, std::uint8_t code = 0x02) {
        driver.Inject(TargetFrames::Status(code, status));
    }

    std::string WriteFile(const std::string& name, std::size_t size) {
        const auto path = folder / name;
        std::ofstream out(path, std::ios::binary);
        for (std::size_t i = 0; i < size; ++i) out.put(static_cast<char>(i * 7 + i / 1024));
        return path.string();
    }

    std::filesystem::path folder;
    FakePacketDriver driver;
    RecordingFrontEnd front;
    CLinkSession engine;
};

}  // namespace fdp::test
