#include "hci/DongleLink.h"

#include <algorithm>
#include <thread>

#include "fdp/FormatBdAddr.h"
#include "hci/HciTransport.h"

namespace hci {

namespace {

// Command Complete: which command, its message when the status is not 0.
struct CompletedCommand {
    std::uint16_t opcode;
    const char* failure;
};

constexpr CompletedCommand kCompletions[] = {
    {OpReadBdAddr, "Error coming the command_complete_event after send the read_local_BD_ADDRt_cmd"},
    {OpReset, "Error coming the command_complete_event after send the Reset_bt_module_cmd"},
    {OpWriteScanEnable, "Error coming the command_complete_event after send the Write_scan_enable_cmd"},
    {OpEnableDeviceUnderTestMode,
     "Error coming the command_complete_event after send the Enalbe_dongle_under_test_mode_cmd"},
};

constexpr const char* kConnectionFailed =
    "Error coming the connection_complete_event after send the accept_connection_request_cmd";
constexpr const char* kAcceptFailed =
    "Error coming the command_status_event after send the accept_connection_request_cmd";

// Offsets in the received-packet layout.
constexpr std::size_t kIndicator = 4;
constexpr std::size_t kEventCode = 5;
constexpr std::size_t kEventParams = 7;
constexpr std::size_t kAclLength = 7;
constexpr std::size_t kAclData = 9;

constexpr std::chrono::milliseconds kIdleSlice{10};

}  // namespace

CDongleLink::CDongleLink() : m_loopReceiveArea(kLoopReceiveAreaLen, 0) {}

CDongleLink::~CDongleLink() { CloseDongle(); }

void CDongleLink::Message(const std::string& text, const std::string& detail) const {
    if (m_message) m_message(text, detail);
}

std::string CDongleLink::LostReason() const {
    std::lock_guard lock(m_lock);
    return m_lostReason;
}

void CDongleLink::MarkLost(const std::string& reason) {
    {
        std::lock_guard lock(m_lock);
        if (!m_lostReason.empty()) return;
        m_lostReason = reason.empty() ? "the dongle stopped answering" : reason;
    }
    // Wakes a wait in progress, which then sees the loss.
    m_event.Set();
}

void CDongleLink::Send(std::span<const std::uint8_t> packet) {
    if (Lost()) return;
    if (!m_driver.SendPacket(packet)) MarkLost(m_driver.LastError());
}

void CDongleLink::SendBuffer(const HciPacketBuffer& buffer) {
    if (Lost()) return;
    if (!m_driver.SendDataToInt(buffer)) MarkLost(m_driver.LastError());
}

void CDongleLink::Sleep(std::uint32_t ms) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= end || Lost()) return;
        if (m_idle) m_idle();
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(end - now, kIdleSlice));
    }
}

bool CDongleLink::OpenDongle() {
    CloseDongle();
    {
        std::lock_guard lock(m_lock);
        m_lostReason.clear();
    }
    std::vector<std::string> candidates;
    if (m_device.empty()) candidates = ListHciControllers();
    else candidates.push_back(m_device);
    m_openError = candidates.empty() ? "no Bluetooth controller found (name one with --dongle)" : "";
    for (const std::string& device : candidates) {
        m_port = m_driver.OpenCommPort(device);
        if (m_port != 0) break;
        m_openError = m_driver.LastError();
    }
    if (m_port == 0) {
        Message(kNoDongleMessage, m_openError);
        return false;
    }
    m_driver.RegisterEnd([this](const std::string& reason) { MarkLost(reason); });
    m_driver.RegisterAddRcvData([this](int unused, std::span<const std::uint8_t> packet) {
        return DongleReceive(unused, packet);
    });
    m_driver.RegisterHandleRcvData([] { return 0; });   // DongleIdle: nothing to do
    Sleep(50);
    return true;
}

void CDongleLink::CloseDongle() {
    if (m_port == 0) return;
    m_driver.CloseCommPort(m_port);
    m_driver.RegisterAddRcvData({});
    m_driver.RegisterHandleRcvData({});
    m_driver.RegisterEnd({});
    m_port = 0;
}

void CDongleLink::SendCommand(std::uint16_t opcode, std::span<const std::uint8_t> params) {
    Send(CommandPacket(opcode, params));
}

bool CDongleLink::WaitDongleEvent(std::uint32_t ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - now);
        if (Lost()) return false;
        if (left.count() <= 0) return m_event.WaitFor(std::chrono::milliseconds(0)) && !Lost();
        if (m_event.WaitFor(m_idle ? std::min(left, kIdleSlice) : left)) return !Lost();
        if (m_idle) m_idle();
    }
}

void CDongleLink::StartDongle(bool dataTest) {
    ArmDongleEvent();
    SendCommand(OpReset);
    WaitDongleEvent(100);
    Sleep(100);
    ArmDongleEvent();
    SendCommand(OpReadBdAddr);
    WaitDongleEvent(150);
    if (dataTest) {
        static constexpr std::uint8_t kInquiryAndPageScan[] = {0x03};
        ArmDongleEvent();
        SendCommand(OpWriteScanEnable, kInquiryAndPageScan);
        WaitDongleEvent(100);
    }
}

bool CDongleLink::EnableDongleTestMode() {
    ArmDongleEvent();
    SendCommand(OpEnableDeviceUnderTestMode);
    WaitDongleEvent(150);
    return DongleTestModeOk();
}

void CDongleLink::SendAcl(HciPacketBuffer& buffer, std::span<const std::uint8_t> data) {
    const std::size_t n = data.size();
    if (n < 1 || n > kMaxAclChunk || buffer.Capacity() < n + 5) return;
    const std::uint16_t handle = AclHandle();
    std::uint8_t* p = buffer.Packet();
    p[0] = kAclPacket;
    p[1] = static_cast<std::uint8_t>(handle);
    p[2] = static_cast<std::uint8_t>((handle >> 8) | 0x20);
    p[3] = static_cast<std::uint8_t>(n);
    p[4] = 0;
    std::copy(data.begin(), data.end(), p + 5);
    buffer.SetCount(static_cast<std::uint16_t>(n + 5));
    SendBuffer(buffer);
}

int CDongleLink::DongleReceive(int /*unused*/, std::span<const std::uint8_t> packet) {
    if (packet.size() <= kIndicator) return 0;
    if (packet[kIndicator] == kEventPacket) HandleHciEvent(packet);
    else if (packet[kIndicator] == kAclPacket) HandleAclData(packet);
    return 0;
}

void CDongleLink::HandleHciEvent(std::span<const std::uint8_t> packet) {
    if (packet.size() <= kEventCode) return;
    const std::uint8_t* p = packet.data();
    // Each event is handled only when all the bytes it reads have arrived.
    const auto has = [&packet](std::size_t end) { return packet.size() >= end; };
    switch (p[kEventCode]) {
    case EvConnectionComplete: {
        if (!has(10)) return;
        const bool ok = p[kEventParams] == 0;
        {
            std::lock_guard lock(m_lock);
            m_aclHandle = Le16(p + 8);
            if (ok) m_aclConnected = true;
        }
        if (ok) m_event.Set();
        else Message(kConnectionFailed);
        return;
    }
    case EvConnectionRequest: {
        if (!has(13)) return;
        BdAddr remote;
        std::copy(p + 7, p + 13, remote.begin());
        bool master = false;
        {
            std::lock_guard lock(m_lock);
            m_remoteAddress = remote;
            master = m_dongleMaster;
        }
        // The role: 0x00 become master, 0x01 remain slave.
        std::uint8_t params[7];
        std::copy(remote.begin(), remote.end(), params);
        params[6] = master ? 0x00 : 0x01;
        auto buffer = NewHciPacket(4 + sizeof params);
        if (!buffer) return;
        const auto command = CommandPacket(OpAcceptConnectionRequest, params);
        std::copy(command.begin(), command.end(), buffer->Packet());
        SendBuffer(*buffer);
        return;
    }
    case EvCommandComplete: {
        if (!has(11)) return;
        const std::uint16_t opcode = Le16(p + 8);
        const auto* completion = std::find_if(std::begin(kCompletions), std::end(kCompletions),
                                              [opcode](const CompletedCommand& c) { return c.opcode == opcode; });
        if (completion == std::end(kCompletions)) return;
        if (p[10] != 0) {
            Message(completion->failure);
            return;
        }
        if (opcode == OpReadBdAddr) {
            if (!has(17)) return;
            BdAddr address;
            std::copy(p + 11, p + 17, address.begin());
            BdAddr shown;   // most significant byte first
            std::reverse_copy(address.begin(), address.end(), shown.begin());
            std::lock_guard lock(m_lock);
            m_dongleAddress = address;
            m_dongleAddressText = FormatBdAddr(shown);
        } else if (opcode == OpEnableDeviceUnderTestMode) {
            std::lock_guard lock(m_lock);
            m_dongleTestModeOk = true;
        }
        m_event.Set();
        return;
    }
    case EvCommandStatus:
        if (!has(11)) return;
        if (Le16(p + 9) == OpAcceptConnectionRequest && p[kEventParams] != 0) Message(kAcceptFailed);
        return;
    default:
        return;
    }
}

void CDongleLink::HandleAclData(std::span<const std::uint8_t> packet) {
    if (packet.size() < kAclData) return;
    const std::uint16_t declared = Le16(packet.data() + kAclLength);
    // Never beyond the bytes that arrived, whatever the length field claims.
    const std::size_t n = std::min<std::size_t>(declared, packet.size() - kAclData);
    const auto data = packet.subspan(kAclData, n);
    if (declared == 1 && n == 1 && data[0] == kEndOfDataMarker) {
        m_event.Set();
        return;
    }
    std::lock_guard lock(m_lock);
    const std::size_t room = m_loopReceiveArea.size() - m_loopReceivedBytes;
    const std::size_t stored = std::min(n, room);
    std::copy_n(data.begin(), stored, m_loopReceiveArea.begin() + m_loopReceivedBytes);
    // Bytes past the end of the area are dropped and so count as lost.
    m_lostToFullArea += n - stored;
    if (declared >= 1 && declared <= 2048) m_loopReceivedBytes += static_cast<std::uint32_t>(stored);
}

void CDongleLink::ClearState() {
    CloseDongle();
    std::lock_guard lock(m_lock);
    m_dongleAddress = {};
    m_dongleAddressText.clear();
    m_remoteAddress = {};
    m_aclHandle = 0;
    m_aclConnected = false;
    m_dongleTestModeOk = false;
    std::fill(m_loopReceiveArea.begin(), m_loopReceiveArea.end(), 0);
    m_loopReceivedBytes = 0;
    m_lostToFullArea = 0;
    m_lostReason.clear();
}

void CDongleLink::SetDongleMaster(bool master) {
    std::lock_guard lock(m_lock);
    m_dongleMaster = master;
}

BdAddr CDongleLink::DongleAddress() const { std::lock_guard lock(m_lock); return m_dongleAddress; }
std::string CDongleLink::DongleAddressText() const { std::lock_guard lock(m_lock); return m_dongleAddressText; }
BdAddr CDongleLink::RemoteAddress() const { std::lock_guard lock(m_lock); return m_remoteAddress; }
std::uint16_t CDongleLink::AclHandle() const { std::lock_guard lock(m_lock); return m_aclHandle; }
bool CDongleLink::AclConnected() const { std::lock_guard lock(m_lock); return m_aclConnected; }
bool CDongleLink::DongleTestModeOk() const { std::lock_guard lock(m_lock); return m_dongleTestModeOk; }
std::uint32_t CDongleLink::LoopReceivedBytes() const { std::lock_guard lock(m_lock); return m_loopReceivedBytes; }
std::uint64_t CDongleLink::LostToFullArea() const { std::lock_guard lock(m_lock); return m_lostToFullArea; }

void CDongleLink::ResetLoopReceivedBytes() {
    std::lock_guard lock(m_lock);
    m_loopReceivedBytes = 0;
}

std::vector<std::uint8_t> CDongleLink::LoopReceiveArea(std::size_t length) const {
    std::lock_guard lock(m_lock);
    length = std::min(length, m_loopReceiveArea.size());
    return {m_loopReceiveArea.begin(), m_loopReceiveArea.begin() + static_cast<std::ptrdiff_t>(length)};
}

}  // namespace hci
