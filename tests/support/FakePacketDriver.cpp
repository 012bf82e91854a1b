#include "tests/support/FakePacketDriver.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace fdp::test {

int FakePacketDriver::Init(void*) {
    m_receive.assign(kReceiveBufferLen, 0);
    return 1;
}

int FakePacketDriver::Uninit() {
    std::lock_guard lock(m_mutex);
    m_open = -1;
    return 1;
}

int FakePacketDriver::OpenAdapter(std::uint16_t index) {
    std::lock_guard lock(m_mutex);
    if (index >= adapterCount) return OpenBadIndex;
    if (m_open == index) return OpenAlreadyOpen;
    m_open = index;
    return OpenOk;
}

int FakePacketDriver::CloseAdapter(std::uint16_t index) {
    std::lock_guard lock(m_mutex);
    if (m_open != index) return m_open >= 0 ? -1 : 0;
    m_open = -1;
    return 0;
}

int FakePacketDriver::GetLocalAddress(std::uint8_t* address) {
    std::memcpy(address, kLocal.data(), kLocal.size());
    return 1;
}

std::string FakePacketDriver::GetAdapterDescription(int index) {
    return index < adapterCount ? "fake" + std::to_string(index) + " (memory) Ethernet adapter" : std::string();
}
int FakePacketDriver::OpenIndex() const {
    std::lock_guard lock(m_mutex);
    return m_open;
}

std::string FakePacketDriver::GetAdapterName(int index) {
    return index < adapterCount ? "fake" + std::to_string(index) : std::string();
}

int FakePacketDriver::SendFrame(const std::uint8_t* destination, const std::uint8_t* payload, std::uint16_t length) {
    Bytes frame;
    {
        std::lock_guard lock(m_mutex);
        if (m_open < 0 || !payload || sendFails) return 0;
        // Built as the real driver builds it, so the PC's frames are seen padded as sent.
        frame.resize(kMaxFrame);
        const std::span<const std::uint8_t, kEthAddrLen> target(destination, kEthAddrLen);
        frame.resize(BuildFrame(frame, target, kLocal, {payload, length}));
        if (frame.empty()) return 0;
        m_sent.push_back(frame);
        ++m_sentTotal;
    }
    m_cv.notify_all();
    if (onSend) onSend(frame);
    return 1;
}

const std::uint8_t* FakePacketDriver::ReceiveFrames(std::uint32_t& count) {
    std::unique_lock lock(m_mutex);
    count = 0;
    m_reading = true;
    m_cv.notify_all();
    m_cv.wait_for(lock, std::chrono::milliseconds(1000), [this] { return m_wake || !m_reads.empty(); });
    m_reading = false;
    m_wake = false;
    if (m_reads.empty()) return nullptr;
    m_current = std::move(m_reads.front());
    m_reads.pop_front();
    count = static_cast<std::uint32_t>(m_current.size());
    return m_current.data();
}

void FakePacketDriver::PullOut() {
    {
        std::lock_guard lock(m_mutex);
        if (m_open >= 0) m_lost = "fake" + std::to_string(m_open);
    }
    WakeReceiver();
}

void FakePacketDriver::HearElsewhere(const MacAddress& source, int adapter) {
    {
        std::lock_guard lock(m_mutex);
        m_announcers.push_back({source, adapter});
    }
    WakeReceiver();
}

std::vector<IPacketDriver::HeardAnnounce> FakePacketDriver::TakeAnnouncers() {
    std::lock_guard lock(m_mutex);
    return std::exchange(m_announcers, {});
}

std::string FakePacketDriver::TakeAdapterLost() {
    std::lock_guard lock(m_mutex);
    return std::exchange(m_lost, {});
}

void FakePacketDriver::WakeReceiver() {
    {
        std::lock_guard lock(m_mutex);
        m_wake = true;
    }
    m_cv.notify_all();
}

void FakePacketDriver::Inject(const Bytes& frame, std::optional<std::uint32_t> wireLen) {
    Bytes records(kCaptureHeaderLen + frame.size() + 4, 0);
    const std::size_t end = AppendCaptureRecord(records, 0, frame,
                                                wireLen.value_or(static_cast<std::uint32_t>(frame.size())));
    records.resize(end);
    InjectRecords(records);
}

void FakePacketDriver::InjectRecords(const Bytes& records) {
    {
        std::lock_guard lock(m_mutex);
        m_reads.push_back(records);
    }
    m_cv.notify_all();
}

std::optional<Bytes> FakePacketDriver::NextSent(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    if (!m_cv.wait_for(lock, timeout, [this] { return !m_sent.empty(); })) return std::nullopt;
    Bytes frame = std::move(m_sent.front());
    m_sent.pop_front();
    return frame;
}

bool FakePacketDriver::WaitForIdleRead(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, timeout, [this] { return m_reading && !m_wake && m_reads.empty(); });
}

std::size_t FakePacketDriver::SentCount() {
    std::lock_guard lock(m_mutex);
    return m_sentTotal;
}

Bytes TargetFrames::Frame(std::uint8_t type, std::span<const std::uint8_t> body) {
    Bytes frame(kEthHeaderLen + std::max<std::size_t>(1 + body.size(), kMinPayload), 0);
    std::copy(FakePacketDriver::kLocal.begin(), FakePacketDriver::kLocal.end(), frame.begin());
    std::copy(kTarget.begin(), kTarget.end(), frame.begin() + 6);
    frame[12] = 0x07;
    frame[13] = 0x07;
    frame[14] = type;
    if (!body.empty()) std::memcpy(frame.data() + kBodyOffset, body.data(), body.size());
    return frame;
}

Bytes TargetFrames::Announce(std::uint32_t challenge, std::uint32_t second, std::uint32_t third) {
    std::uint8_t body[12];
    WriteLe32(body, challenge);
    WriteLe32(body + 4, second);
    WriteLe32(body + 8, third);
    return Frame(0x01, body);   // announce
}

Bytes TargetFrames::LoginReply(std::uint8_t status) {
    const std::uint8_t body[1] = {status};
    return Frame(0x03, body);   // login reply
}

Bytes TargetFrames::Data(std::uint8_t code, std::span<const std::uint8_t> data) {
    Bytes body(3 + data.size());
    body[0] = code;
    WriteLe16(&body[1], static_cast<std::uint16_t>(data.size()));
    std::copy(data.begin(), data.end(), body.begin() + 3);
    return Frame(0x05, body);   // data
}

Bytes TargetFrames::Numbered(std::uint8_t code, std::uint16_t number, std::span<const std::uint8_t> data) {
    Bytes block(2 + data.size());
    WriteLe16(block.data(), number);
    std::copy(data.begin(), data.end(), block.begin() + 2);
    return Data(code, block);
}

std::optional<SentData> ParseSent(const Bytes& frame) {
    if (frame.size() < kEthHeaderLen + kDataHeaderLen || frame[14] != 0x05) return std::nullopt;
    SentData sent;
    sent.code = frame[15];
    sent.length = ReadLe16(&frame[16]);
    const std::size_t have = frame.size() - 18;
    sent.data.assign(frame.begin() + 18, frame.begin() + 18 + std::min<std::size_t>(have, sent.length));
    return sent;
}

}  // namespace fdp::test
