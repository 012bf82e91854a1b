// An in-memory packet driver in which the test plays the target frame by frame: it
// reads what the PC sent (whole Ethernet frames, padding included) and injects frames
// that the engine's receiver then captures.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "fdp/Frame.h"
#include "fdp/PacketDriver.h"

namespace fdp::test {

using Bytes = std::vector<std::uint8_t>;

class FakePacketDriver : public IPacketDriver {
public:
    static constexpr MacAddress kLocal = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};

    int Init(void*) override;
    int Uninit() override;
    int EnumerateAdapters() override { return adapterCount; }
    int OpenAdapter(std::uint16_t index) override;
    int CloseAdapter(std::uint16_t index) override;
    int GetLocalAddress(std::uint8_t* address) override;
    std::string GetAdapterDescription(int index) override;
    std::string GetAdapterName(int index) override;
    int IsEthernet(int index) override { return index < adapterCount ? 1 : 0; }
    int SendFrame(const std::uint8_t* destination, const std::uint8_t* payload, std::uint16_t length) override;
    const std::uint8_t* ReceiveFrames(std::uint32_t& count) override;
    int IsLinkFrame(const std::uint8_t* frame) override { return frame[12] == 0x07 && frame[13] == 0x07; }
    void WakeReceiver() override;
    std::string LastError() const override { return {}; }
    int OpenIndex() const override;
    std::string TakeAdapterLost() override;
    void SetScouting(bool on) override {
        if (on) ++scoutingStarts;
    }
    std::vector<HeardAnnounce> TakeAnnouncers() override;

    // Test side.
    // Queues a frame for the receiver; wireLen differs from its size for a frame not
    // captured whole.
    void Inject(const Bytes& frame, std::optional<std::uint32_t> wireLen = std::nullopt);
    // Queues raw capture-record bytes as one read.
    void InjectRecords(const Bytes& records);
    // The next frame the PC sent, waiting up to the time given.
    std::optional<Bytes> NextSent(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    std::size_t SentCount();
    // Waits until the receiver sits in a read with nothing to return, so that only a
    // wake-up or the read time-out ends it.
    bool WaitForIdleRead(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // An announce from source heard on another adapter than the one in use, which the
    // real driver notes without handing it on (TakeAnnouncers); the receiver's read
    // returns at once and hears of it.
    void HearElsewhere(const MacAddress& source, int adapter);
    // The adapter in use deleted, as rtnetlink tells the real driver; the receiver's read
    // returns at once and hears of it.
    void PullOut();
    // Called on the worker thread for every frame sent, after it was recorded.
    std::function<void(const Bytes&)> onSend;

    int adapterCount = 1;
    std::atomic<int> scoutingStarts{0};   // SetScouting(true) calls
    bool sendFails = false;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<Bytes> m_reads;       // each entry is one read's capture records
    std::deque<Bytes> m_sent;
    std::size_t m_sentTotal = 0;
    bool m_wake = false;
    bool m_reading = false;
    int m_open = -1;
    std::string m_lost;
    std::vector<HeardAnnounce> m_announcers;
    Bytes m_receive;
    Bytes m_current;
};

// Frames the target sends, source address kTarget.
struct TargetFrames {
    static constexpr MacAddress kTarget = {0x00, 0x1b, 0xdc, 0x0a, 0x0b, 0x0c};
    static Bytes Frame(std::uint8_t type, std::span<const std::uint8_t> body);
    static Bytes Announce(std::uint32_t challenge, std::uint32_t second = 0, std::uint32_t third = 0);
    static Bytes LoginReply(std::uint8_t status);
    static Bytes Data(std::uint8_t code, std::span<const std::uint8_t> data);
    static Bytes Status(std::uint8_t code, std::uint8_t status) { return Data(code, std::vector<std::uint8_t>{status}); }
    static Bytes Numbered(std::uint8_t code, std::uint16_t number, std::span<const std::uint8_t> data);
};

// Fields of a data frame the PC sent.
struct SentData {
    std::uint8_t code = 0;
    std::uint16_t length = 0;
    Bytes data;
};
std::optional<SentData> ParseSent(const Bytes& frame);

}  // namespace fdp::test
