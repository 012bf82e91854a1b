#include "hci/HciPacket.h"

#include <new>

namespace hci {

std::unique_ptr<HciPacketBuffer> NewHciPacket(std::size_t n) {
    if (n > 0xFFFF) return nullptr;
    try {
        auto buffer = std::make_unique<HciPacketBuffer>();
        buffer->bytes.assign(n + 6, 0);
        buffer->SetCount(static_cast<std::uint16_t>(n));
        return buffer;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

std::vector<std::uint8_t> CommandPacket(std::uint16_t opcode, std::span<const std::uint8_t> params) {
    std::vector<std::uint8_t> packet = {kCommandPacket, static_cast<std::uint8_t>(opcode),
                                        static_cast<std::uint8_t>(opcode >> 8),
                                        static_cast<std::uint8_t>(params.size())};
    packet.insert(packet.end(), params.begin(), params.end());
    return packet;
}

std::vector<std::uint8_t> AclPacket(std::uint16_t handle, std::span<const std::uint8_t> data) {
    const std::uint16_t head = static_cast<std::uint16_t>((handle & 0x0FFF) | kFirstPacketFlag);
    std::vector<std::uint8_t> packet = {kAclPacket, static_cast<std::uint8_t>(head), static_cast<std::uint8_t>(head >> 8),
                                        static_cast<std::uint8_t>(data.size()),
                                        static_cast<std::uint8_t>(data.size() >> 8)};
    packet.insert(packet.end(), data.begin(), data.end());
    return packet;
}

}  // namespace hci
