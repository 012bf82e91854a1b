#include "tools/nap-sim/NapBluetooth.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>

#include "fdp/FormatBdAddr.h"

namespace napsim {

namespace {

using Clock = std::chrono::steady_clock;

// What the target's radio sends and expects: the HCI codes as the Bluetooth standard
// gives them, and the loop test's conventions as the target keeps them. Written down
// here rather than taken from the PC's side, so that a misreading on either side
// shows as a failing run instead of agreeing with itself.
namespace radio {
constexpr std::uint8_t kCommandPacket = 0x01;
constexpr std::uint8_t kAclPacket = 0x02;
constexpr std::uint8_t kEventPacket = 0x04;

constexpr std::uint16_t kCreateConnection = 0x0405;
constexpr std::uint16_t kReset = 0x0C03;
constexpr std::uint16_t kReadBdAddr = 0x1009;

constexpr std::uint8_t kConnectionComplete = 0x03;
constexpr std::uint8_t kDisconnectionComplete = 0x05;
constexpr std::uint8_t kCommandComplete = 0x0E;
constexpr std::uint8_t kCommandStatus = 0x0F;

// ACL header after the indicator: handle with packet boundary "first" (10b), length.
constexpr std::uint16_t kFirstPacketFlag = 0x2000;

// The target test mode request carries Enable_Device_Under_Test_Mode, the only
// command the target passes to its module; anything else is refused as unknown.
constexpr std::uint8_t kTestModeCommand[] = {0x01, 0x03, 0x18, 0x00};
constexpr std::uint8_t kUnknownCommand = 0x01;

// The loop test: the setup block holds the dongle's address (0-5), the speed in bytes
// per millisecond (8) and the data size (9, u32 LE). The target sends its data as 0x05
// in ACL packets of at most 100 bytes, then the one-byte marker 0x01; its receive
// report lists the packets that arrived as 02, handle (2), length (2, LE), data, within
// the PC's receive area of 409600 bytes.
constexpr std::size_t kSetupSpeed = 8;
constexpr std::size_t kSetupSize = 9;
constexpr std::size_t kSetupLength = 13;
constexpr std::uint8_t kTargetData = 0x05;
constexpr std::uint8_t kEndOfData = 0x01;
constexpr std::size_t kMaxChunk = 100;
constexpr std::size_t kReportArea = 409600;
constexpr std::size_t kRecordHead = 5;
}  // namespace radio

constexpr std::uint32_t kCommandWaitMs = 1000;
constexpr std::uint32_t kReportGraceMs = 1000;

std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::vector<std::uint8_t> CommandPacket(std::uint16_t opcode, std::span<const std::uint8_t> params = {}) {
    std::vector<std::uint8_t> packet = {radio::kCommandPacket, static_cast<std::uint8_t>(opcode),
                                        static_cast<std::uint8_t>(opcode >> 8),
                                        static_cast<std::uint8_t>(params.size())};
    packet.insert(packet.end(), params.begin(), params.end());
    return packet;
}

std::vector<std::uint8_t> AclPacket(std::uint16_t handle, std::span<const std::uint8_t> data) {
    const auto head = static_cast<std::uint16_t>((handle & 0x0FFF) | radio::kFirstPacketFlag);
    std::vector<std::uint8_t> packet = {radio::kAclPacket, static_cast<std::uint8_t>(head),
                                        static_cast<std::uint8_t>(head >> 8), static_cast<std::uint8_t>(data.size()),
                                        static_cast<std::uint8_t>(data.size() >> 8)};
    packet.insert(packet.end(), data.begin(), data.end());
    return packet;
}

std::string Hex(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

}  // namespace

CNapBluetooth::CNapBluetooth(ReportFn report, LogFn log) : m_reportFn(std::move(report)), m_log(std::move(log)) {}

CNapBluetooth::~CNapBluetooth() {
    {
        std::lock_guard lock(m_lock);
        m_stop = true;
        ++m_run;
    }
    m_changed.notify_all();
    if (m_worker.joinable()) m_worker.join();
    if (m_port) m_driver.CloseCommPort(m_port);
}

bool CNapBluetooth::Open(const std::string& device) {
    m_port = m_driver.OpenCommPort(device);
    if (m_port == 0) {
        m_error = m_driver.LastError();
        return false;
    }
    m_driver.RegisterAddRcvData([this](int, std::span<const std::uint8_t> packet) {
        OnPacket(packet);
        return 0;
    });
    // A controller that goes away leaves the target without radio; it says so once.
    m_driver.RegisterEnd([this](const std::string& reason) {
        if (m_log) m_log("bt lost", reason);
    });
    m_worker = std::thread([this] { WorkerMain(); });
    if (Command(CommandPacket(radio::kReset), kCommandWaitMs) != std::uint8_t{0}) {
        m_error = device + ": the controller did not complete HCI_Reset";
        return false;
    }
    std::vector<std::uint8_t> address;
    if (Command(CommandPacket(radio::kReadBdAddr), kCommandWaitMs, &address) != std::uint8_t{0} ||
        address.size() < 6) {
        m_error = device + ": the controller did not tell its address";
        return false;
    }
    std::lock_guard lock(m_lock);
    m_address.assign(address.begin(), address.begin() + 6);
    return true;
}

std::string CNapBluetooth::AddressText() const {
    std::lock_guard lock(m_lock);
    if (m_address.size() != 6) return {};
    std::array<std::uint8_t, 6> shown;
    std::reverse_copy(m_address.begin(), m_address.end(), shown.begin());
    return FormatBdAddr(shown);
}

std::optional<std::uint8_t> CNapBluetooth::Command(std::span<const std::uint8_t> packet, std::uint32_t ms,
                                                   std::vector<std::uint8_t>* returned) {
    if (packet.size() < 4) return std::nullopt;
    std::unique_lock lock(m_lock);
    m_awaitedOpcode = Le16(packet.data() + 1);
    m_completedStatus.reset();
    lock.unlock();
    if (!m_driver.SendPacket(packet)) return std::nullopt;
    lock.lock();
    m_changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_completedStatus.has_value() || m_stop; });
    m_awaitedOpcode = 0;
    if (returned) *returned = m_completedParams;
    return m_completedStatus;
}

void CNapBluetooth::OnPacket(std::span<const std::uint8_t> packet) {
    if (packet.size() < 7) return;
    const std::uint8_t* p = packet.data();
    std::string event, detail;
    {
        std::lock_guard lock(m_lock);
        if (p[4] == radio::kAclPacket && packet.size() >= 9) {
            const std::size_t n = std::min<std::size_t>(Le16(p + 7), packet.size() - 9);
            m_receivedBytes += static_cast<std::uint32_t>(n);
            // The report leaves out what the radio withholds (the run's last bytes) and
            // keeps within the PC's receive area.
            const std::uint32_t keep = m_dataSize > m_withhold ? m_dataSize - m_withhold : 0;
            const std::size_t kept = std::min<std::size_t>(n, keep > m_reportedBytes ? keep - m_reportedBytes : 0);
            if (kept > 0 && m_report.size() + radio::kRecordHead + kept <= radio::kReportArea) {
                m_report.insert(m_report.end(), {radio::kAclPacket, p[5], p[6], static_cast<std::uint8_t>(kept),
                                                 static_cast<std::uint8_t>(kept >> 8)});
                m_report.insert(m_report.end(), p + 9, p + 9 + kept);
                m_reportedBytes += static_cast<std::uint32_t>(kept);
            }
        } else if (p[4] == radio::kEventPacket) {
            const std::size_t length = packet.size();
            switch (p[5]) {
            case radio::kCommandComplete:
                if (length >= 11 && Le16(p + 8) == m_awaitedOpcode) {
                    m_completedStatus = p[10];
                    m_completedParams.assign(p + 11, p + length);
                }
                break;
            case radio::kCommandStatus:
                if (length >= 11 && p[7] != 0 && Le16(p + 9) == m_awaitedOpcode) m_completedStatus = p[7];
                if (length >= 11 && p[7] != 0) { event = "bt command refused"; detail = Hex(Le16(p + 9)); }
                break;
            case radio::kConnectionComplete:
                if (length < 10) break;
                if (p[7] == 0) m_handle = static_cast<std::uint16_t>(Le16(p + 8) & 0x0FFF);
                event = p[7] == 0 ? "bt connected" : "bt connection failed";
                detail = p[7] == 0 ? "handle " + Hex(Le16(p + 8)) : "status " + std::to_string(p[7]);
                break;
            case radio::kDisconnectionComplete:
                if (length >= 10 && m_handle && Le16(p + 8) == *m_handle) {
                    m_handle.reset();
                    event = "bt disconnected";
                }
                break;
            default:
                break;
            }
        }
    }
    m_changed.notify_all();
    if (!event.empty() && m_log) m_log(event, detail);
}

void CNapBluetooth::LoopSetup(std::span<const std::uint8_t> block) {
    if (block.size() < radio::kSetupLength) return;
    std::uint8_t page[13];
    {
        std::lock_guard lock(m_lock);
        ++m_run;
        m_tasks.clear();
        m_handle.reset();
        m_report.clear();
        m_receivedBytes = 0;
        m_reportedBytes = 0;
        m_speed = std::max<std::uint32_t>(block[radio::kSetupSpeed], 1);
        m_dataSize = Le32(block.data() + radio::kSetupSize);
    }
    m_changed.notify_all();
    std::array<std::uint8_t, 6> shown;
    std::reverse_copy(block.begin(), block.begin() + 6, shown.begin());
    if (!m_radioOn) {
        if (m_log) m_log("bt radio off", "not paging " + FormatBdAddr(shown));
        return;
    }
    // Create_Connection: address, packet types DM1..DH5, page scan mode R1, clock
    // offset unknown, role switch allowed.
    std::copy(block.begin(), block.begin() + 6, page);
    const std::uint8_t rest[] = {0x18, 0xCC, 0x01, 0x00, 0x00, 0x00, 0x01};
    std::copy(std::begin(rest), std::end(rest), page + 6);
    if (m_log) m_log("bt paging", FormatBdAddr(shown));
    m_driver.SendPacket(CommandPacket(radio::kCreateConnection, page));
}

void CNapBluetooth::LoopSend() {
    {
        std::lock_guard lock(m_lock);
        m_tasks.emplace_back(Task::Send, m_run);
    }
    m_changed.notify_all();
}

void CNapBluetooth::RequestLoopReport() {
    {
        std::lock_guard lock(m_lock);
        m_tasks.emplace_back(Task::Report, m_run);
    }
    m_changed.notify_all();
}

std::uint8_t CNapBluetooth::RunCommand(std::span<const std::uint8_t> command) {
    if (command.size() < sizeof radio::kTestModeCommand ||
        !std::equal(std::begin(radio::kTestModeCommand), std::end(radio::kTestModeCommand), command.begin())) {
        if (m_log) m_log("bt command refused", "not Enable_Device_Under_Test_Mode");
        return radio::kUnknownCommand;
    }
    const auto status = Command(radio::kTestModeCommand, kCommandWaitMs);
    if (m_log) m_log("bt command", "test mode status " + (status ? std::to_string(*status) : "none"));
    return status.value_or(0xFF);
}

void CNapBluetooth::WorkerMain() {
    std::unique_lock lock(m_lock);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stop || !m_tasks.empty(); });
        if (m_stop) return;
        const auto [task, run] = m_tasks.front();
        m_tasks.pop_front();
        lock.unlock();
        if (task == Task::Send) Send(run);
        else Report(run);
        lock.lock();
    }
}

void CNapBluetooth::Send(std::uint64_t run) {
    std::unique_lock lock(m_lock);
    if (!m_handle) {
        lock.unlock();
        if (m_log) m_log("bt send", "no connection");
        return;
    }
    const std::uint16_t handle = *m_handle;
    const std::uint32_t speed = m_speed;
    // What the radio withholds is never sent; the end marker still follows.
    const std::uint32_t size = m_dataSize > m_withhold ? m_dataSize - m_withhold : 0;
    lock.unlock();
    const auto start = Clock::now();
    const std::vector<std::uint8_t> chunk(radio::kMaxChunk, radio::kTargetData);
    for (std::uint32_t sent = 0; sent < size;) {
        // Paced so that the bytes sent never run ahead of speed bytes per millisecond.
        lock.lock();
        const bool ended = m_changed.wait_until(lock, start + std::chrono::microseconds(std::uint64_t{sent} * 1000 / speed),
                                                [&] { return m_stop || m_run != run; });
        lock.unlock();
        if (ended) return;
        const std::uint32_t n = std::min<std::uint32_t>(size - sent, radio::kMaxChunk);
        m_driver.SendPacket(AclPacket(handle, std::span(chunk.data(), n)));
        sent += n;
    }
    const std::uint8_t marker[] = {radio::kEndOfData};
    m_driver.SendPacket(AclPacket(handle, marker));
    if (m_log) m_log("bt sent", std::to_string(size) + " bytes at " + std::to_string(speed) + " KBytes/s");
}

void CNapBluetooth::Report(std::uint64_t run) {
    std::unique_lock lock(m_lock);
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_dataSize / m_speed + kReportGraceMs);
    m_changed.wait_until(lock, deadline, [&] { return m_stop || m_run != run || m_receivedBytes >= m_dataSize; });
    if (m_stop || m_run != run) return;
    std::vector<std::uint8_t> report = m_report;
    const std::uint32_t received = m_receivedBytes;
    lock.unlock();
    if (m_log) m_log("bt report", std::to_string(received) + " bytes received");
    m_reportFn(std::move(report));
}

}  // namespace napsim
