// The engine and the packet socket driver on the PC side of the veth bench, logged in to
// a kelvane-nap-sim on the other side: what the link tests start from.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <utility>
#include <vector>

#include "fdp/LinkSession.h"
#include "fdp/PacketSocketDriver.h"
#include "fdp/Sha256.h"
#include "tests/e2e/Bench.h"
#include "tests/support/RecordingFrontEnd.h"

namespace e2e {

// Stage codes of a staged download: transfer end, then erase and burn of the area.
constexpr unsigned EraseEnd(std::uint8_t kind) { return (kind == fdp::KindBoot ? 0u : kind == fdp::KindProgram ? 20u : 40u) + 3; }
constexpr unsigned BurnEnd(std::uint8_t kind) { return EraseEnd(kind) + 10; }
constexpr unsigned kTransferEnd = 63;

class LinkFixture : public ::testing::Test {
protected:
    void SetUp() override {
        KELVANE_NEED_BENCH();
        ASSERT_FALSE(folder.Path().empty());
        front.SetProgramFolder(folder.Path());
    }
    void TearDown() override {
        if (engineStarted) {
            engine.Stop();
            front.ShutdownLink();
        }
        if (simStarted) {
            EXPECT_TRUE(sim.Stop()) << "the simulator did not end cleanly";
            EXPECT_LT(sim.StopTime(), std::chrono::milliseconds(1000)) << "the simulator took long to stop";
        }
    }

    void StartSim(const std::vector<std::string>& options = {}) {
        simStarted = sim.Start(folder.Path(), options);
        ASSERT_TRUE(simStarted) << sim.Error();
    }

    void StartEngine(const fdp::LinkTimeouts& timeouts = {}) {
        ASSERT_TRUE(front.StartLink());
        driver.SetInterfaceFilter(kPcInterface);
        engine.SetTimeouts(timeouts);
        ASSERT_EQ(engine.Start(&driver, &front), 1);
        engineStarted = true;
        front.SetLink(&engine, &driver);
        ASSERT_EQ(engine.EnumerateAdapters(), 1);
        ASSERT_EQ(engine.OpenAdapter(0), fdp::OpenOk) << driver.LastError();
        front.SetAdapter(0, 1, true);
    }

    unsigned Connect(const std::string& password) {
        front.SetPassword(password);
        EXPECT_EQ(front.Listen(), 0);
        const auto result = front.WaitResult(fdp::WM_FDP_CONNECT, std::chrono::seconds(15));
        return result ? result->wParam : 0xFFFF;
    }

    void StartAndConnect(const std::vector<std::string>& options = {}, const fdp::LinkTimeouts& timeouts = {}) {
        StartSim(options);
        StartEngine(timeouts);
        ASSERT_EQ(Connect("kiwi"), fdp::ConnectOk);
    }

    // Waits for the report that ends a staged download, whichever it is; returns
    // (stage, result), or (0, 0xFFFF) when none came in time.
    std::pair<unsigned, unsigned> WaitDownloadEnd(std::uint8_t kind, std::chrono::milliseconds within = std::chrono::seconds(30)) {
        const auto deadline = std::chrono::steady_clock::now() + within;
        while (std::chrono::steady_clock::now() < deadline) {
            for (const auto& r : front.Reports()) {
                const bool end = r.stage == BurnEnd(kind) || ((r.stage == kTransferEnd || r.stage == EraseEnd(kind)) && r.result != 0);
                if (end) return {r.stage, r.result};
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return {0, 0xFFFF};
    }

    // A staged download of this file into the area, which must end burnt.
    void DownloadAndCheck(std::uint8_t kind, const std::vector<std::uint8_t>& image, const std::string& stateFile) {
        const std::string path = folder / "image.bin";
        ASSERT_TRUE(WriteBytes(path, image));
        ASSERT_EQ(front.StartDownload(kind, path), 0);
        const auto [stage, result] = WaitDownloadEnd(kind);
        ASSERT_EQ(stage, BurnEnd(kind));
        ASSERT_EQ(result, fdp::FdpOk);
        EXPECT_EQ(fdp::Sha256File(sim.StatePath(stateFile)), fdp::Sha256Hex(image));
    }

    // Runs one transfer request and waits for its message; the block holds the answer.
    unsigned Transfer(int submitted) {
        EXPECT_EQ(submitted, 0);
        const auto result = front.WaitResult(fdp::WM_FDP_TRANSFER, std::chrono::seconds(10));
        return result ? result->wParam : 0xFFFF;
    }

    TempDir folder;
    SimProcess sim;
    fdp::CPacketSocketDriver driver;
    fdp::CLinkSession engine;
    fdp::test::RecordingFrontEnd front;
    bool simStarted = false;
    bool engineStarted = false;
};

}  // namespace e2e
