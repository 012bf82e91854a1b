// The packet unit handed to the dongle driver for sending, and the HCI codes the
// system speaks. A buffer holds a 4-byte head (the number n of HCI bytes from offset 4
// on, u16 little-endian, then a zero word) and the HCI packet from its indicator on.
#pragma once

// The simulated target speaks HCI from its own table, so that a misreading on one side
// shows against the other instead of agreeing with itself.
#ifdef KELVANE_TARGET_PEER
#error "the PC's HCI codes are not for the simulated target"
#endif

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace hci {

inline constexpr std::uint8_t kCommandPacket = 0x01;
inline constexpr std::uint8_t kAclPacket = 0x02;
inline constexpr std::uint8_t kScoPacket = 0x03;
inline constexpr std::uint8_t kEventPacket = 0x04;

// Opcodes as the standard defines them (sent little-endian).
enum HciOpcode : std::uint16_t {
    OpCreateConnection = 0x0405,
    OpAcceptConnectionRequest = 0x0409,
    OpReset = 0x0C03,
    OpWriteScanEnable = 0x0C1A,
    OpReadBdAddr = 0x1009,
    OpEnableDeviceUnderTestMode = 0x1803,
};

enum HciEvent : std::uint8_t {
    EvConnectionComplete = 0x03,
    EvConnectionRequest = 0x04,
    EvDisconnectionComplete = 0x05,
    EvCommandComplete = 0x0E,
    EvCommandStatus = 0x0F,
};

// A received packet as the driver delivers it: 4 bytes not used, the packet indicator
// at offset 4, the packet after its indicator from offset 5 on.
inline constexpr std::size_t kReceivedHeadLen = 4;

// ACL data header after the indicator: handle and flags (2), data length (2).
inline constexpr std::uint16_t kFirstPacketFlag = 0x2000;   // packet boundary 10b, broadcast 00b

struct HciPacketBuffer {
    static constexpr std::size_t kHeadLen = 4;
    std::vector<std::uint8_t> bytes;   // head, then room for n + 2 bytes

    std::uint16_t Count() const { return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8); }
    void SetCount(std::uint16_t n) {
        bytes[0] = static_cast<std::uint8_t>(n);
        bytes[1] = static_cast<std::uint8_t>(n >> 8);
    }
    std::uint8_t* Packet() { return bytes.data() + kHeadLen; }
    // Room for HCI bytes from offset 4 on.
    std::size_t Capacity() const { return bytes.size() - kHeadLen; }
    // The HCI bytes to send; empty when the count claims more than the buffer holds.
    std::span<const std::uint8_t> Hci() const {
        if (Count() > Capacity()) return {};
        return {bytes.data() + kHeadLen, Count()};
    }
};

// A buffer of n + 6 bytes with the count n; nothing when memory is exhausted.
std::unique_ptr<HciPacketBuffer> NewHciPacket(std::size_t n);

// A command packet from its indicator on: 01, opcode, parameter length, parameters.
std::vector<std::uint8_t> CommandPacket(std::uint16_t opcode, std::span<const std::uint8_t> params = {});

// An ACL data packet from its indicator on, first packet of a message.
std::vector<std::uint8_t> AclPacket(std::uint16_t handle, std::span<const std::uint8_t> data);

inline std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

}  // namespace hci
