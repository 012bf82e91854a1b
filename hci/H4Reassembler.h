// Cuts a byte stream of H4 packets (one indicator byte, then the packet) into whole
// packets, however the bytes arrive: a packet split over several reads, several
// packets in one read. Each whole packet is handed over in the received-packet layout
// (4 unused bytes, indicator, packet). Bytes that cannot start a packet (an unknown
// indicator) are skipped one at a time until a known indicator appears, and counted.
//
// Threads: none; one reader feeds it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace hci {

class CH4Reassembler {
public:
    // packet: the received-packet layout, valid only during the call.
    using PacketFn = std::function<void(std::span<const std::uint8_t> packet)>;

    void Feed(std::span<const std::uint8_t> bytes, const PacketFn& deliver);
    // Forgets a packet begun but not finished.
    void Reset();
    std::size_t SkippedBytes() const { return m_skipped; }

private:
    // Header length after the indicator, or 0 for an unknown indicator.
    static std::size_t HeaderLength(std::uint8_t indicator);
    // Whole length after the indicator once the header is complete.
    static std::size_t BodyLength(std::uint8_t indicator, const std::uint8_t* header);

    std::vector<std::uint8_t> m_packet;   // 4 unused bytes, then what has arrived of the packet
    std::size_t m_need = 0;               // bytes after the indicator still awaited for the header or body
    bool m_haveHeader = false;
    std::size_t m_skipped = 0;
};

}  // namespace hci
