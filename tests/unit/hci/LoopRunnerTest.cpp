// The loop runs against a target played by the test: the dongle is a controller on a
// Unix socket, and the front end's loop requests make that controller behave as the
// target's radio would (connect, send the data with some of it withheld, report what
// arrived). Each data run takes its real time: about five seconds, most of it the
// settling after the connection.
#include "hci/LoopRunner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "fdp/LoopRequests.h"
#include "hci/DongleLink.h"
#include "tests/support/ScriptedController.h"

namespace hci {
namespace {

using test::Bytes;
using test::CommandComplete;
using test::ScriptedController;

constexpr std::uint8_t kHandle[] = {0x2A, 0x00};
const Bytes kTargetAddress = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};

// The target's side of the loop requests, through the controller that plays the radio.
class FakeTarget : public fdp::ILoopRequests {
public:
    FakeTarget(ScriptedController& radio, std::uint32_t withheld, bool hangUp)
        : m_radio(radio), m_withheld(withheld), m_hangUp(hangUp) {
        radio.SetResponder([this](const Bytes& packet) { return Answer(packet); });
    }
    ~FakeTarget() { m_radio.SetResponder({}); }

    int StartLoopTest(fdp::SharedBuffer block) override {
        {
            std::lock_guard lock(m_lock);
            m_block = *block;
            m_dataSize = static_cast<std::uint32_t>((*block)[9] | (*block)[10] << 8 | (*block)[11] << 16 |
                                                    (*block)[12] << 24);
        }
        if (m_hangUp) {
            m_radio.HangUp();
            return 0;
        }
        // Connection Request: address, class of device, ACL.
        Bytes request = {0x04, 0x04, 0x0A};
        request.insert(request.end(), kTargetAddress.begin(), kTargetAddress.end());
        request.insert(request.end(), {0x00, 0x00, 0x00, 0x01});
        m_radio.Send(request);
        return 0;
    }
    // Sends the data size less the withheld bytes, in packets of up to 100 bytes of
    // 0x05, then the one-byte end marker 0x01.
    int SendLoopData(fdp::SharedBuffer, std::uint32_t size) override {
        std::uint32_t left = size > m_withheld ? size - m_withheld : 0;
        while (left) {
            const std::uint32_t n = std::min<std::uint32_t>(left, 100);
            Bytes packet = {0x02, kHandle[0], 0x20, static_cast<std::uint8_t>(n), 0x00};
            packet.resize(5 + n, 0x05);
            m_radio.Send(packet);
            left -= n;
        }
        m_radio.Send({0x02, kHandle[0], 0x20, 0x01, 0x00, 0x01});
        return 0;
    }
    // No link behind it: the target's test mode is refused as not connected.
    int EnableTargetTestMode(fdp::SharedBuffer) override { return 2; }
    std::uint8_t CurrentJob() const override { return fdp::JobNone; }
    int ReceiveLoopData(fdp::SharedBuffer buffer, std::uint32_t) override {
        std::lock_guard lock(m_lock);
        m_report = std::move(buffer);
        return 0;
    }

    Bytes Block() {
        std::lock_guard lock(m_lock);
        return m_block;
    }

private:
    Bytes Answer(const Bytes& packet) {
        if (packet.size() >= 4 && packet[0] == 0x01) {
            const auto opcode = static_cast<std::uint16_t>(packet[1] | packet[2] << 8);
            if (opcode == 0x1009) return CommandComplete(0x1009, 0, {0x66, 0x55, 0x44, 0x33, 0x22, 0x1A});
            if (opcode != 0x0409) return CommandComplete(opcode, 0);
            // The accept: its status, then the connection.
            Bytes answer = {0x04, 0x0F, 0x04, 0x00, 0x01, 0x09, 0x04, 0x04, 0x03, 0x0B, 0x00, kHandle[0], kHandle[1]};
            answer.insert(answer.end(), kTargetAddress.begin(), kTargetAddress.end());
            answer.insert(answer.end(), {0x01, 0x00});
            return answer;
        }
        // The dongle's data: the report keeps it as 02, handle, length, data, less what
        // the target withholds at the end.
        std::lock_guard lock(m_lock);
        if (packet.size() < 5 || packet[0] != 0x02 || !m_report) return {};
        const std::uint32_t keep = m_dataSize > m_withheld ? m_dataSize - m_withheld : 0;
        const std::uint32_t n = std::min<std::uint32_t>(static_cast<std::uint32_t>(packet.size() - 5), keep - m_kept);
        if (n == 0) return {};
        Bytes record = {0x02, packet[1], packet[2], static_cast<std::uint8_t>(n), 0x00};
        record.insert(record.end(), packet.begin() + 5, packet.begin() + 5 + n);
        std::copy(record.begin(), record.end(), m_report->begin() + m_reportLength);
        m_reportLength += record.size();
        m_kept += n;
        return {};
    }

    ScriptedController& m_radio;
    const std::uint32_t m_withheld;
    const bool m_hangUp;
    std::mutex m_lock;
    Bytes m_block;
    std::uint32_t m_dataSize = 0;
    fdp::SharedBuffer m_report;
    std::size_t m_reportLength = 0;
    std::uint32_t m_kept = 0;
};

enum class Run { Target, Dongle };

struct RunCase {
    const char* name;
    Run run;
    std::uint32_t size, speed, withheld;
    bool hangUp;
    int failAllocation;            // the run's n-th buffer is not to be had; 0: all are
    std::vector<std::string> has;  // in the report
    std::vector<std::string> hasNot;
    std::vector<std::string> messages;
};

void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

class LoopRunnerTest : public ::testing::TestWithParam<RunCase> {};

TEST_P(LoopRunnerTest, ReportsWhatTheRunMeasured) {
    const RunCase& c = GetParam();
    ScriptedController radio;
    FakeTarget target(radio, c.withheld, c.hangUp);
    CDongleLink dongle;
    std::vector<std::string> messages;
    std::mutex messageLock;
    dongle.SetDevice(radio.Device());
    dongle.SetMessageHandler([&](const std::string& text, const std::string&) {
        std::lock_guard lock(messageLock);
        messages.push_back(text);
    });
    ASSERT_TRUE(dongle.OpenDongle()) << dongle.OpenError();
    dongle.StartDongle(true);
    ASSERT_EQ(dongle.DongleAddressText(), "1a:22:33:44:55:66");

    std::string report;
    CLoopRunner runner(&target, dongle, [&report](const std::string& text) { report += text; });
    int allocations = 0;
    runner.SetBufferSource([&](std::size_t size) -> fdp::SharedBuffer {
        if (++allocations == c.failAllocation) return nullptr;
        return fdp::MakeBuffer(size);
    });
    if (c.run == Run::Target) runner.RunTargetLoopTest({c.size, c.speed});
    else runner.RunDongleLoopTest({c.size, c.speed});
    dongle.CloseDongle();

    for (const std::string& text : c.has) EXPECT_NE(report.find(text), std::string::npos) << text << " in\n" << report;
    for (const std::string& text : c.hasNot) EXPECT_EQ(report.find(text), std::string::npos) << text << " in\n" << report;
    EXPECT_EQ(messages, c.messages);
    if (c.failAllocation) {
        EXPECT_TRUE(target.Block().empty()) << "nothing is asked of the target";
    }
}

const std::string kLost20 = "---------------Lost rate is: 20.000000%!\r\n";
const std::string kLostNothing = "---------------Lost rate is: 0.000000%!\r\n";
const std::string kRate = "%!";
const std::string kTimeout = "--------------Timeout and ACL connection is not established in 4 seconds!\r\n";
const std::string kHungUp = "the dongle closed its channel";

INSTANTIATE_TEST_SUITE_P(
    Runs, LoopRunnerTest,
    ::testing::Values(
        // 250 bytes go in packets of 100, 100 and 50; the target withholds the last 50.
        RunCase{"TargetToDongleLosesAFifth", Run::Target, 250, 80, 50, false, 0,
                {"---------------Transferring data from Target to Dongle...\r\n", kLost20}, {kLostNothing}, {}},
        RunCase{"DongleToTargetLosesAFifth", Run::Dongle, 250, 80, 50, false, 0,
                {"---------------Transferring data from Dongle to Target...\r\n", kLost20}, {kLostNothing}, {}},
        RunCase{"TargetToDongleLosesNothing", Run::Target, 1, 10, 0, false, 0, {kLostNothing}, {}, {}},
        // A run that could not count what arrived says so and makes up no rate.
        RunCase{"DongleRunWithoutItsFirstBuffer", Run::Dongle, 250, 80, 0, false, 1, {}, {kRate},
                {"Memory is not enough!"}},
        RunCase{"DongleRunWithoutItsSecondBuffer", Run::Dongle, 250, 80, 0, false, 2, {}, {kRate},
                {"Memory is not enough!"}},
        RunCase{"TargetRunWithoutItsBuffer", Run::Target, 250, 80, 0, false, 1, {}, {kRate},
                {"Memory is not enough!"}},
        // A dongle that hangs up ends the run at once, with its reason, not a time-out.
        RunCase{"TargetToDongleDongleHangsUp", Run::Target, 250, 80, 0, true, 0, {kHungUp}, {kTimeout, kRate}, {}},
        RunCase{"DongleToTargetDongleHangsUp", Run::Dongle, 250, 80, 0, true, 0, {kHungUp}, {kTimeout, kRate}, {}}),
    [](const ::testing::TestParamInfo<RunCase>& p) { return std::string(p.param.name); });

// The block that asks the target to connect and send: the dongle's address as read
// (least significant byte first), two zeros, the speed, the size (u32 little-endian),
// six zeros.
TEST(LoopRunnerBlock, CarriesTheDonglesAddressSpeedAndSize) {
    ScriptedController radio;
    FakeTarget target(radio, 0, true);
    CDongleLink dongle;
    dongle.SetDevice(radio.Device());
    ASSERT_TRUE(dongle.OpenDongle()) << dongle.OpenError();
    dongle.StartDongle(true);
    CLoopRunner runner(&target, dongle, [](const std::string&) {});
    runner.RunTargetLoopTest({0x0102, 0x50});
    dongle.CloseDongle();
    const Bytes expected = {0x66, 0x55, 0x44, 0x33, 0x22, 0x1A, 0x00, 0x00, 0x50, 0x02, 0x01, 0x00, 0x00,
                            0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(target.Block(), expected);
}

TEST(LoopRunnerBlock, TargetTestModeCarriesEnableDeviceUnderTestMode) {
    const auto block = CLoopRunner::TargetTestModeBlock();
    const Bytes expected = {0x01, 0x03, 0x18, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(*block, expected);
}

}  // namespace
}  // namespace hci
