#include "hci/H4Reassembler.h"

#include <algorithm>

#include "hci/HciPacket.h"

namespace hci {

std::size_t CH4Reassembler::HeaderLength(std::uint8_t indicator) {
    switch (indicator) {
    case kCommandPacket: return 3;   // opcode, parameter length
    case kAclPacket: return 4;       // handle and flags, data length (16 bits)
    case kScoPacket: return 3;       // handle and flags, data length (8 bits)
    case kEventPacket: return 2;     // event code, parameter length
    default: return 0;
    }
}

std::size_t CH4Reassembler::BodyLength(std::uint8_t indicator, const std::uint8_t* header) {
    switch (indicator) {
    case kCommandPacket: return 3 + std::size_t{header[2]};
    case kAclPacket: return 4 + std::size_t{Le16(header + 2)};
    case kScoPacket: return 3 + std::size_t{header[2]};
    default: return 2 + std::size_t{header[1]};
    }
}

void CH4Reassembler::Reset() {
    m_packet.clear();
    m_need = 0;
    m_haveHeader = false;
}

void CH4Reassembler::Feed(std::span<const std::uint8_t> bytes, const PacketFn& deliver) {
    while (!bytes.empty()) {
        if (m_packet.empty()) {
            const std::uint8_t indicator = bytes.front();
            bytes = bytes.subspan(1);
            const std::size_t header = HeaderLength(indicator);
            if (header == 0) {
                ++m_skipped;
                continue;
            }
            m_packet.assign(kReceivedHeadLen, 0);
            m_packet.push_back(indicator);
            m_need = header;
            m_haveHeader = false;
        }
        const std::size_t take = std::min(m_need, bytes.size());
        m_packet.insert(m_packet.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(take));
        bytes = bytes.subspan(take);
        m_need -= take;
        if (m_need != 0) break;
        const std::uint8_t indicator = m_packet[kReceivedHeadLen];
        if (!m_haveHeader) {
            m_haveHeader = true;
            const std::size_t header = HeaderLength(indicator);
            m_need = BodyLength(indicator, m_packet.data() + kReceivedHeadLen + 1) - header;
            if (m_need != 0) continue;
        }
        deliver(m_packet);
        Reset();
    }
}

}  // namespace hci
