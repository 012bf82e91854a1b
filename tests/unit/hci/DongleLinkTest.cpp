#include "hci/DongleLink.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>

#include "hci/HciTransport.h"
#include "tests/support/ScriptedController.h"

namespace hci {
namespace {

using test::Bytes;
using test::CommandComplete;
using test::ScriptedController;

constexpr std::uint16_t Opcode(const Bytes& packet) {
    return packet.size() >= 3 ? static_cast<std::uint16_t>(packet[1] | packet[2] << 8) : 0;
}

// Answers every command the link sends at start with success; the address is
// 66 55 44 33 22 1A as Read_BD_ADDR returns it.
Bytes HealthyController(const Bytes& packet) {
    if (packet[0] != kCommandPacket) return {};
    if (Opcode(packet) == OpReadBdAddr) return CommandComplete(OpReadBdAddr, 0, {0x66, 0x55, 0x44, 0x33, 0x22, 0x1A});
    return CommandComplete(Opcode(packet), 0);
}

class DongleLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        link.SetDevice(controller.Device());
        link.SetMessageHandler([this](const std::string& text) {
            std::lock_guard lock(messageLock);
            messages.push_back(text);
        });
        controller.SetResponder(HealthyController);
        ASSERT_TRUE(link.OpenDongle()) << link.OpenError();
    }
    std::vector<std::string> Messages() {
        std::lock_guard lock(messageLock);
        return messages;
    }
    // Sends bytes from the controller and waits until the link has handled them (the
    // event, when it signals, or a short settling time).
    void FromController(const Bytes& bytes, bool slowly = false) {
        link.ArmDongleEvent();
        controller.Send(bytes, slowly);
    }

    ScriptedController controller;
    CDongleLink link;
    std::mutex messageLock;
    std::vector<std::string> messages;
};

class DongleStartTest : public DongleLinkTest, public ::testing::WithParamInterface<bool> {};

TEST_P(DongleStartTest, ReadsTheAddressAndScansOnlyForADataTest) {
    const bool dataTest = GetParam();
    link.StartDongle(dataTest);
    const auto sent = controller.Received();
    std::vector<std::uint16_t> opcodes;
    std::transform(sent.begin(), sent.end(), std::back_inserter(opcodes), Opcode);
    std::vector<std::uint16_t> expected = {OpReset, OpReadBdAddr};
    if (dataTest) expected.push_back(OpWriteScanEnable);
    EXPECT_EQ(opcodes, expected);
    if (dataTest) {
        EXPECT_EQ(sent.back(), (Bytes{0x01, 0x1A, 0x0C, 0x01, 0x03}));
    }
    EXPECT_EQ(link.DongleAddress(), (BdAddr{0x66, 0x55, 0x44, 0x33, 0x22, 0x1A}));
    EXPECT_EQ(link.DongleAddressText(), "1a:22:33:44:55:66");
    EXPECT_TRUE(Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(DataTestOrNot, DongleStartTest, ::testing::Bool());

TEST_F(DongleLinkTest, FailedCompletionsShowTheirMessageAndLeaveTheWaitToTimeOut) {
    controller.SetResponder([](const Bytes& packet) { return CommandComplete(Opcode(packet), 0x0C); });
    link.StartDongle(true);
    EXPECT_EQ(link.DongleAddress(), BdAddr{});
    EXPECT_EQ(link.DongleAddressText(), "");
    EXPECT_FALSE(link.EnableDongleTestMode());
    const std::vector<std::string> expected = {
        "Error coming the command_complete_event after send the Reset_bt_module_cmd",
        "Error coming the command_complete_event after send the read_local_BD_ADDRt_cmd",
        "Error coming the command_complete_event after send the Write_scan_enable_cmd",
        "Error coming the command_complete_event after send the Enalbe_dongle_under_test_mode_cmd"};
    EXPECT_EQ(Messages(), expected);
}

TEST_F(DongleLinkTest, AcceptsAConnectionRequestWithTheChosenRole) {
    const Bytes request = {0x04, 0x04, 0x0A, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x00, 0x00, 0x00, 0x01};
    for (const bool master : {true, false}) {
        link.SetDongleMaster(master);
        const std::size_t before = controller.Received().size();
        controller.Send(request, /*slowly=*/true);
        ASSERT_TRUE(controller.WaitReceived(before + 1));
        const Bytes role = {static_cast<std::uint8_t>(master ? 0x00 : 0x01)};
        Bytes expected = {0x01, 0x09, 0x04, 0x07, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
        expected.insert(expected.end(), role.begin(), role.end());
        EXPECT_EQ(controller.Received()[before], expected) << "master " << master;
        EXPECT_EQ(link.RemoteAddress(), (BdAddr{0x11, 0x22, 0x33, 0x44, 0x55, 0x66}));
    }
}

TEST_F(DongleLinkTest, ConnectionCompleteKeepsTheHandleAndConnectsOnlyOnSuccess) {
    // A failed completion (status 0x04, page time-out) still reports its handle.
    FromController({0x04, 0x03, 0x0B, 0x04, 0x2B, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x01, 0x00});
    EXPECT_FALSE(link.WaitDongleEvent(200));
    EXPECT_FALSE(link.AclConnected());
    EXPECT_EQ(link.AclHandle(), 0x002B);
    EXPECT_EQ(Messages(), std::vector<std::string>{
        "Error coming the connection_complete_event after send the accept_connection_request_cmd"});

    FromController({0x04, 0x03, 0x0B, 0x00, 0x2A, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x01, 0x00});
    EXPECT_TRUE(link.WaitDongleEvent(1000));
    EXPECT_TRUE(link.AclConnected());
    EXPECT_EQ(link.AclHandle(), 0x002A);
}

TEST_F(DongleLinkTest, CommandStatusOfTheAcceptSpeaksOnlyOnFailure) {
    controller.Send({0x04, 0x0F, 0x04, 0x00, 0x01, 0x09, 0x04});
    controller.Send({0x04, 0x0F, 0x04, 0x0C, 0x01, 0x09, 0x04});
    controller.Send({0x04, 0x0F, 0x04, 0x0C, 0x01, 0x05, 0x04});   // another command's status
    // A Command Complete after them proves all three have been handled.
    FromController(CommandComplete(OpReset, 0));
    ASSERT_TRUE(link.WaitDongleEvent(1000));
    EXPECT_EQ(Messages(), std::vector<std::string>{
        "Error coming the command_status_event after send the accept_connection_request_cmd"});
}

TEST_F(DongleLinkTest, EndMarkerSignalsAndOtherDataIsCounted) {
    FromController({0x02, 0x2A, 0x20, 0x01, 0x00, 0x05});
    EXPECT_FALSE(link.WaitDongleEvent(100));
    EXPECT_EQ(link.LoopReceivedBytes(), 1u);

    FromController({0x02, 0x2A, 0x20, 0x01, 0x00, 0x01});
    EXPECT_TRUE(link.WaitDongleEvent(1000));
    EXPECT_EQ(link.LoopReceivedBytes(), 1u) << "the marker is neither stored nor counted";
    EXPECT_EQ(link.LoopReceiveArea(2), (Bytes{0x05, 0x00}));
}

TEST_F(DongleLinkTest, QuickCompletionBeforeTheWaitIsNotLost) {
    link.ArmDongleEvent();
    link.SendCommand(OpEnableDeviceUnderTestMode);
    ASSERT_TRUE(controller.WaitReceived(1));
    // The completion has long arrived when the wait begins.
    link.Sleep(100);
    EXPECT_TRUE(link.WaitDongleEvent(10));
    EXPECT_TRUE(link.DongleTestModeOk());
}

TEST_F(DongleLinkTest, SendAclWritesTheChunkWithTheConnectionsHandle) {
    FromController({0x04, 0x03, 0x0B, 0x00, 0x2A, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x01, 0x00});
    ASSERT_TRUE(link.WaitDongleEvent(1000));
    auto buffer = NewHciPacket(105);
    ASSERT_TRUE(buffer);
    const Bytes data(100, 0x06);
    const std::size_t before = controller.Received().size();
    link.SendAcl(*buffer, data);
    EXPECT_EQ(buffer->Count(), 105);
    ASSERT_TRUE(controller.WaitReceived(before + 1));
    Bytes expected = {0x02, 0x2A, 0x20, 0x64, 0x00};
    expected.insert(expected.end(), data.begin(), data.end());
    EXPECT_EQ(controller.Received()[before], expected);
}

TEST_F(DongleLinkTest, ReceiveAreaKeepsItsBoundAndCountsTheRestAsLost) {
    // 205 packets of 2000 bytes: 410000 bytes for an area of 409600.
    Bytes packet = {0x02, 0x2A, 0x20, 0xD0, 0x07};
    packet.resize(5 + 2000, 0x05);
    Bytes stream;
    for (int i = 0; i < 205; ++i) stream.insert(stream.end(), packet.begin(), packet.end());
    stream.insert(stream.end(), {0x02, 0x2A, 0x20, 0x01, 0x00, 0x01});
    FromController(stream);
    ASSERT_TRUE(link.WaitDongleEvent(5000));
    EXPECT_EQ(link.LoopReceivedBytes(), kLoopReceiveAreaLen);
    EXPECT_EQ(link.LostToFullArea(), 400u);
}

TEST_F(DongleLinkTest, ShortOrLyingPacketsAreIgnored) {
    // Events too short for what they carry, an ACL length beyond the packet.
    controller.Send({0x04, 0x0E, 0x01, 0x01});
    controller.Send({0x04, 0x0E, 0x05, 0x01, 0x09, 0x10, 0x00, 0x66});
    controller.Send({0x04, 0x03, 0x01, 0x00});
    controller.Send({0x04, 0x04, 0x02, 0x11, 0x22});
    FromController(CommandComplete(OpReset, 0));
    ASSERT_TRUE(link.WaitDongleEvent(1000));
    EXPECT_EQ(link.DongleAddress(), BdAddr{});
    EXPECT_FALSE(link.AclConnected());
    EXPECT_EQ(controller.Received().size(), 0u) << "no accept for a cut request";
}

TEST(DongleLinkOpen, AMissingDongleGivesTheMessageAndStaysClosed) {
    CDongleLink link;
    std::vector<std::string> messages;
    link.SetMessageHandler([&messages](const std::string& text) { messages.push_back(text); });
    for (const char* device : {"unix:/nonexistent/kelvane-dongle", "/nonexistent/ttyKV0", "hci999", "nonsense"}) {
        messages.clear();
        link.SetDevice(device);
        EXPECT_FALSE(link.OpenDongle()) << device;
        EXPECT_FALSE(link.IsOpen());
        EXPECT_EQ(messages, std::vector<std::string>{kNoDongleMessage}) << device;
        EXPECT_FALSE(link.OpenError().empty()) << device;
    }
}

TEST(HciPacketBuffer, CountsTheHciBytesAndRefusesAClaimBeyondItself) {
    auto buffer = NewHciPacket(4);
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->bytes.size(), 10u);
    EXPECT_EQ(buffer->Count(), 4);
    EXPECT_EQ(buffer->bytes[2], 0);
    EXPECT_EQ(buffer->bytes[3], 0);
    buffer->SetCount(7);
    EXPECT_TRUE(buffer->Hci().empty());
}

}  // namespace
}  // namespace hci

namespace hci {
namespace {

// A serial dongle: the test plays the controller on the master side of a pty, one
// byte at a time, as a slow UART delivers them.
TEST(DongleSerial, ReadsTheAddressOverATtyByteByByte) {
    int master = -1, slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const std::string path = ::ttyname(slave);
    CDongleLink link;
    link.SetDevice(path);
    ASSERT_TRUE(link.OpenDongle()) << link.OpenError();
    link.ArmDongleEvent();
    link.SendCommand(OpReadBdAddr);
    std::uint8_t command[4] = {};
    std::size_t got = 0;
    while (got < sizeof command) {
        const ssize_t n = ::read(master, command + got, sizeof command - got);
        ASSERT_GT(n, 0);
        got += static_cast<std::size_t>(n);
    }
    EXPECT_EQ(Bytes(command, command + 4), (Bytes{0x01, 0x09, 0x10, 0x00}));
    for (std::uint8_t b : CommandComplete(OpReadBdAddr, 0, {0x66, 0x55, 0x44, 0x33, 0x22, 0x1A})) {
        ASSERT_EQ(::write(master, &b, 1), 1);
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    EXPECT_TRUE(link.WaitDongleEvent(2000));
    EXPECT_EQ(link.DongleAddressText(), "1a:22:33:44:55:66");
    link.CloseDongle();
    ::close(slave);
    ::close(master);
}

// The line is opened without waiting for carrier, then handed over blocking: the
// writes of a packet rely on it.
TEST(DongleSerial, TransportIsBlockingOnceOpen) {
    int master = -1, slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const HciOpenResult opened = OpenHciTransport(::ttyname(slave));
    ASSERT_GE(opened.fd, 0) << opened.error;
    EXPECT_EQ(::fcntl(opened.fd, F_GETFL) & O_NONBLOCK, 0);
    ::close(opened.fd);
    ::close(slave);
    ::close(master);
}

}  // namespace
}  // namespace hci
