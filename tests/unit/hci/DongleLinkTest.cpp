#include "hci/DongleLink.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <termios.h>

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

// Answers every command the link sends with success; the address is 66 55 44 33 22 1A
// as Read_BD_ADDR (0x1009) returns it.
Bytes HealthyController(const Bytes& packet) {
    if (packet[0] != 0x01) return {};
    if (Opcode(packet) == 0x1009) return CommandComplete(0x1009, 0, {0x66, 0x55, 0x44, 0x33, 0x22, 0x1A});
    return CommandComplete(Opcode(packet), 0);
}

class DongleLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        link.SetDevice(controller.Device());
        link.SetMessageHandler([this](const std::string& text, const std::string&) {
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

// Every command the link sends, byte for byte as the controller reads it.
struct CommandCase {
    const char* name;
    std::function<void(CDongleLink&)> action;
    std::vector<Bytes> wire;
};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.name; }

class DongleCommandTest : public DongleLinkTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(DongleCommandTest, GoesOutAsItsBytes) {
    GetParam().action(link);
    EXPECT_EQ(controller.Received(), GetParam().wire);
    EXPECT_TRUE(Messages().empty());
}

const Bytes kReset = {0x01, 0x03, 0x0C, 0x00};
const Bytes kReadBdAddr = {0x01, 0x09, 0x10, 0x00};
const Bytes kWriteScanEnable = {0x01, 0x1A, 0x0C, 0x01, 0x03};
const Bytes kEnableDeviceUnderTestMode = {0x01, 0x03, 0x18, 0x00};

INSTANTIATE_TEST_SUITE_P(
    Commands, DongleCommandTest,
    ::testing::Values(
        CommandCase{"StartForATestMode", [](CDongleLink& l) { l.StartDongle(false); }, {kReset, kReadBdAddr}},
        CommandCase{"StartForADataTest", [](CDongleLink& l) { l.StartDongle(true); },
                    {kReset, kReadBdAddr, kWriteScanEnable}},
        CommandCase{"DongleTestMode", [](CDongleLink& l) { EXPECT_TRUE(l.EnableDongleTestMode()); },
                    {kEnableDeviceUnderTestMode}}),
    [](const ::testing::TestParamInfo<CommandCase>& p) { return std::string(p.param.name); });

TEST_F(DongleLinkTest, StartReadsTheAddress) {
    link.StartDongle(true);
    EXPECT_EQ(link.DongleAddress(), (BdAddr{0x66, 0x55, 0x44, 0x33, 0x22, 0x1A}));
    EXPECT_EQ(link.DongleAddressText(), "1a:22:33:44:55:66");
}

// Command Complete events as a controller sends them: which ones complete a wait, and
// what they leave behind.
struct CompletionCase {
    const char* name;
    Bytes event;
    bool signals;
    bool testMode;
    BdAddr address;
};

void PrintTo(const CompletionCase& c, std::ostream* os) { *os << c.name; }

class DongleCompletionTest : public DongleLinkTest, public ::testing::WithParamInterface<CompletionCase> {};

TEST_P(DongleCompletionTest, IsKnownByItsOpcodeBytes) {
    const CompletionCase& c = GetParam();
    FromController(c.event);
    EXPECT_EQ(link.WaitDongleEvent(c.signals ? 2000 : 200), c.signals);
    EXPECT_EQ(link.DongleTestModeOk(), c.testMode);
    EXPECT_EQ(link.DongleAddress(), c.address);
    EXPECT_TRUE(Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Completions, DongleCompletionTest,
    ::testing::Values(
        CompletionCase{"Reset", {0x04, 0x0E, 0x04, 0x01, 0x03, 0x0C, 0x00}, true, false, {}},
        CompletionCase{"WriteScanEnable", {0x04, 0x0E, 0x04, 0x01, 0x1A, 0x0C, 0x00}, true, false, {}},
        CompletionCase{"EnableDeviceUnderTestMode", {0x04, 0x0E, 0x04, 0x01, 0x03, 0x18, 0x00}, true, true, {}},
        CompletionCase{"ReadBdAddr",
                       {0x04, 0x0E, 0x0A, 0x01, 0x09, 0x10, 0x00, 0x66, 0x55, 0x44, 0x33, 0x22, 0x1A},
                       true, false, {0x66, 0x55, 0x44, 0x33, 0x22, 0x1A}},
        // Commands the link never sends: their completions are no answer to it.
        CompletionCase{"ResetsNeighbour0C02", {0x04, 0x0E, 0x04, 0x01, 0x02, 0x0C, 0x00}, false, false, {}},
        CompletionCase{"TestModesNeighbour1802", {0x04, 0x0E, 0x04, 0x01, 0x02, 0x18, 0x00}, false, false, {}}),
    [](const ::testing::TestParamInfo<CompletionCase>& p) { return std::string(p.param.name); });

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
    FromController(CommandComplete(0x0C03, 0));
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
    link.SendCommand(0x1803);
    ASSERT_TRUE(controller.WaitReceived(1));
    // The completion has long arrived when the wait begins.
    link.Sleep(100);
    EXPECT_TRUE(link.WaitDongleEvent(10));
    EXPECT_TRUE(link.DongleTestModeOk());
}

TEST_F(DongleLinkTest, SendAclWritesTheChunkWithTheConnectionsHandle) {
    const struct {
        std::uint8_t handleLow, handleHigh;
        std::size_t length;
        Bytes head;   // indicator, handle | first-packet flag, length
        std::uint16_t count;
    } cases[] = {
        {0x2A, 0x00, 100, {0x02, 0x2A, 0x20, 0x64, 0x00}, 105},
        {0x2A, 0x01, 1, {0x02, 0x2A, 0x21, 0x01, 0x00}, 6},
    };
    auto buffer = NewHciPacket(105);
    ASSERT_TRUE(buffer);
    for (const auto& c : cases) {
        FromController({0x04, 0x03, 0x0B, 0x00, c.handleLow, c.handleHigh, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x01, 0x00});
        ASSERT_TRUE(link.WaitDongleEvent(1000));
        const Bytes data(c.length, 0x06);
        const std::size_t before = controller.Received().size();
        link.SendAcl(*buffer, data);
        EXPECT_EQ(buffer->bytes[0] | buffer->bytes[1] << 8, c.count);
        ASSERT_TRUE(controller.WaitReceived(before + 1));
        Bytes expected = c.head;
        expected.insert(expected.end(), data.begin(), data.end());
        EXPECT_EQ(controller.Received()[before], expected);
    }
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
    FromController(CommandComplete(0x0C03, 0));
    ASSERT_TRUE(link.WaitDongleEvent(1000));
    EXPECT_EQ(link.DongleAddress(), BdAddr{});
    EXPECT_FALSE(link.AclConnected());
    EXPECT_EQ(controller.Received().size(), 0u) << "no accept for a cut request";
}

TEST(DongleLinkOpen, AMissingDongleGivesTheMessageWithItsReasonAndStaysClosed) {
    CDongleLink link;
    std::vector<std::string> messages, details;
    link.SetMessageHandler([&](const std::string& text, const std::string& detail) {
        messages.push_back(text);
        details.push_back(detail);
    });
    const std::string system = " There is no USB device in the port or the usb port is used by other program!";
    for (const char* device : {"unix:/nonexistent/kelvane-dongle", "/nonexistent/ttyKV0", "hci999", "nonsense"}) {
        messages.clear();
        details.clear();
        link.SetDevice(device);
        EXPECT_FALSE(link.OpenDongle()) << device;
        EXPECT_FALSE(link.IsOpen());
        EXPECT_EQ(messages, std::vector<std::string>{system}) << device;
        ASSERT_EQ(details.size(), 1u);
        EXPECT_FALSE(details[0].empty()) << device;
        EXPECT_EQ(details[0], link.OpenError()) << device;
    }
}

// Why a device did not open, as the technician reads it under the message.
TEST(DongleLinkOpen, OpenErrorsNameTheirCauseAndRemedy) {
    const struct {
        int error;
        const char* says;
    } cases[] = {
        {EBUSY, "/dev/ttyUSB0 is used by another program"},
        {EUSERS, "/dev/ttyUSB0 is used by another program"},
        {ENOENT, "no such device"},
        {EACCES, "no permission"},
        {ECONNREFUSED, "no controller listens"},
    };
    for (const auto& c : cases)
        EXPECT_NE(DescribeOpenError("/dev/ttyUSB0", c.error).find(c.says), std::string::npos)
            << c.error << ": " << DescribeOpenError("/dev/ttyUSB0", c.error);
}

// A controller that hangs up ends what waits on it at once, and nothing more is sent.
TEST_F(DongleLinkTest, AControllerThatHangsUpIsLostAtOnce) {
    controller.HangUp();
    const auto start = std::chrono::steady_clock::now();
    link.ArmDongleEvent();
    EXPECT_FALSE(link.WaitDongleEvent(10000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << "waited for its time-out";
    EXPECT_EQ(link.LostReason(), "the dongle closed its channel");
    link.StartDongle(true);
    EXPECT_EQ(link.DongleAddress(), BdAddr{});
    EXPECT_TRUE(Messages().empty());
    // The reason stays for the caller to tell until the next open.
    link.CloseDongle();
    EXPECT_TRUE(link.Lost());
}

// The driver on its own: a write to a controller that has gone fails, it does not kill
// the program with SIGPIPE.
TEST(DongleDriver, WritingToAControllerThatHungUpFailsWithoutASignal) {
    ScriptedController controller;
    CDongleDriver driver;
    std::mutex lock;
    std::condition_variable ended;
    std::string reason;
    const int port = driver.OpenCommPort(controller.Device());
    ASSERT_NE(port, 0) << driver.LastError();
    driver.RegisterEnd([&](const std::string& why) {
        std::lock_guard guard(lock);
        reason = why;
        ended.notify_all();
    });
    controller.HangUp();
    {
        std::unique_lock guard(lock);
        ASSERT_TRUE(ended.wait_for(guard, std::chrono::seconds(5), [&] { return !reason.empty(); }));
    }
    EXPECT_EQ(reason, "the dongle closed its channel");
    const Bytes reset = {0x01, 0x03, 0x0C, 0x00};
    EXPECT_FALSE(driver.SendPacket(reset));
    EXPECT_NE(driver.LastError().find("Broken pipe"), std::string::npos) << driver.LastError();
    driver.CloseCommPort(port);
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
    link.SendCommand(0x1009);
    std::uint8_t command[4] = {};
    std::size_t got = 0;
    while (got < sizeof command) {
        const ssize_t n = ::read(master, command + got, sizeof command - got);
        ASSERT_GT(n, 0);
        got += static_cast<std::size_t>(n);
    }
    EXPECT_EQ(Bytes(command, command + 4), (Bytes{0x01, 0x09, 0x10, 0x00}));
    for (std::uint8_t b : CommandComplete(0x1009, 0, {0x66, 0x55, 0x44, 0x33, 0x22, 0x1A})) {
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

namespace hci {
namespace {

// The port keeps what its last user left; the H4 line is 8N1 with RTS/CTS whatever
// that was, and :noflow leaves RTS/CTS off for adapters without the lines.
TEST(DongleSerial, LineIsSetUpForH4WhateverItsLastUserLeft) {
    const struct {
        const char* suffix;
        bool rtsCts;
        speed_t speed;
    } cases[] = {
        {"", true, B115200},
        {":921600", true, B921600},
        {":115200:noflow", false, B115200},
        {":57600:noflow", false, B57600},
    };
    for (const auto& c : cases) {
        int master = -1, slave = -1;
        ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        termios left{};
        ASSERT_EQ(::tcgetattr(slave, &left), 0);
        left.c_cflag &= ~(CSIZE | CRTSCTS);
        left.c_cflag |= CS7 | CSTOPB | PARENB;
        left.c_iflag |= IXON | IXOFF;
        ASSERT_EQ(::tcsetattr(slave, TCSANOW, &left), 0);
        const std::string device = std::string(::ttyname(slave)) + c.suffix;
        const HciOpenResult opened = OpenHciTransport(device);
        ASSERT_GE(opened.fd, 0) << device << ": " << opened.error;
        termios line{};
        ASSERT_EQ(::tcgetattr(opened.fd, &line), 0);
        EXPECT_EQ(line.c_cflag & CSIZE, tcflag_t{CS8}) << device;
        EXPECT_EQ(line.c_cflag & CSTOPB, 0u) << device << ": one stop bit";
        EXPECT_EQ(line.c_cflag & PARENB, 0u) << device << ": no parity";
        EXPECT_EQ((line.c_cflag & CRTSCTS) != 0, c.rtsCts) << device;
        EXPECT_EQ(line.c_iflag & (IXON | IXOFF), 0u) << device << ": no software flow control";
        EXPECT_EQ(::cfgetospeed(&line), c.speed) << device;
        ::close(opened.fd);
        ::close(slave);
        ::close(master);
    }
}

}  // namespace
}  // namespace hci
