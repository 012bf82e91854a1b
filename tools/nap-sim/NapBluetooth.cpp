#include "tools/nap-sim/NapBluetooth.h"

#include <algorithm>
#include <chrono>

#include "controls/FormatBdAddr.h"
#include "fdp/Frame.h"
#include "hci/DongleLink.h"
#include "hci/HciPacket.h"

namespace napsim {

namespace {

using Clock = std::chrono::steady_clock;
using hci::Le16;

constexpr std::uint8_t kTargetSends = 0x05;
constexpr std::uint32_t kCommandWaitMs = 1000;
constexpr std::uint32_t kReportGraceMs = 1000;

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
    m_worker = std::thread([this] { WorkerMain(); });
    if (Command(hci::CommandPacket(hci::OpReset), kCommandWaitMs) != std::uint8_t{0}) {
        m_error = device + ": the controller did not complete HCI_Reset";
        return false;
    }
    std::vector<std::uint8_t> address;
    if (Command(hci::CommandPacket(hci::OpReadBdAddr), kCommandWaitMs, &address) != std::uint8_t{0} ||
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
        if (p[4] == hci::kAclPacket && packet.size() >= 9) {
            const std::size_t n = std::min<std::size_t>(Le16(p + 7), packet.size() - 9);
            // The report keeps whole packets only, within the PC's receive area.
            if (m_report.size() + 5 + n <= hci::kLoopReceiveAreaLen) {
                m_report.insert(m_report.end(), p + 4, p + 9 + n);
                fdp::WriteLe16(&m_report[m_report.size() - n - 2], static_cast<std::uint16_t>(n));
                m_receivedBytes += static_cast<std::uint32_t>(n);
            }
        } else if (p[4] == hci::kEventPacket) {
            const std::size_t length = packet.size();
            switch (p[5]) {
            case hci::EvCommandComplete:
                if (length >= 11 && Le16(p + 8) == m_awaitedOpcode) {
                    m_completedStatus = p[10];
                    m_completedParams.assign(p + 11, p + length);
                }
                break;
            case hci::EvCommandStatus:
                if (length >= 11 && p[7] != 0 && Le16(p + 9) == m_awaitedOpcode) m_completedStatus = p[7];
                if (length >= 11 && p[7] != 0) { event = "bt command refused"; detail = Hex(Le16(p + 9)); }
                break;
            case hci::EvConnectionComplete:
                if (length < 10) break;
                if (p[7] == 0) m_handle = static_cast<std::uint16_t>(Le16(p + 8) & 0x0FFF);
                event = p[7] == 0 ? "bt connected" : "bt connection failed";
                detail = p[7] == 0 ? "handle " + Hex(Le16(p + 8)) : "status " + std::to_string(p[7]);
                break;
            case hci::EvDisconnectionComplete:
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
    if (block.size() < 13) return;
    std::uint8_t page[13];
    {
        std::lock_guard lock(m_lock);
        ++m_run;
        m_tasks.clear();
        m_handle.reset();
        m_report.clear();
        m_receivedBytes = 0;
        m_speed = std::max<std::uint32_t>(block[8], 1);
        m_dataSize = fdp::ReadLe32(block.data() + 9);
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
    m_driver.SendPacket(hci::CommandPacket(hci::OpCreateConnection, page));
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
    if (command.size() < 4 || command[0] != hci::kCommandPacket || command.size() < 4u + command[3]) return 0xFF;
    const auto status = Command(command.first(4u + command[3]), kCommandWaitMs);
    if (m_log) m_log("bt command", Hex(Le16(command.data() + 1)) + " status " + (status ? std::to_string(*status) : "none"));
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
    const std::uint32_t size = m_dataSize, speed = m_speed;
    lock.unlock();
    const auto start = Clock::now();
    const std::vector<std::uint8_t> chunk(hci::kMaxAclChunk, kTargetSends);
    for (std::uint32_t sent = 0; sent < size;) {
        // Paced so that the bytes sent never run ahead of speed bytes per millisecond.
        lock.lock();
        const bool ended = m_changed.wait_until(lock, start + std::chrono::microseconds(std::uint64_t{sent} * 1000 / speed),
                                                [&] { return m_stop || m_run != run; });
        lock.unlock();
        if (ended) return;
        const std::uint32_t n = std::min<std::uint32_t>(size - sent, hci::kMaxAclChunk);
        m_driver.SendPacket(hci::AclPacket(handle, std::span(chunk.data(), n)));
        sent += n;
    }
    const std::uint8_t marker[] = {hci::kEndOfDataMarker};
    m_driver.SendPacket(hci::AclPacket(handle, marker));
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
