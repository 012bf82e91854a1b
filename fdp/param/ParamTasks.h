// The parameter tasks: what the name and password, network and register inputs write
// into the parameter block, with the masks that tell the target which values changed
// (parameter 12, `modifiedMask`) and which register values were written (parameter 58,
// `registerMask`), followed by saving the working file. The wizard's input pages and
// kelvane-cli both build their download from these, so both send the same bytes.
//
// Each Apply function is all or nothing: it starts both masks at 0 and stops at the
// first step that fails (a value the store refuses, no bound view, a failed save); the
// block is then put back as it was and the masks stay 0, so that a refused value never
// reaches the target with a later task's download. On success the block in memory and
// param.jdp hold the task's values and the masks their bits. No function shows
// anything; the caller decides what to tell the user.
#pragma once

#ifdef KELVANE_TARGET_PEER
#error "the target simulator keeps its own table instead of the PC's parameter ids and mask bits"
#endif

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace param {

class CParamStore;

inline constexpr std::uint16_t kParamPassword = 3;
inline constexpr std::uint16_t kParamFriendlyName = 8;
inline constexpr std::uint16_t kParamModifiedMask = 12;
inline constexpr std::uint16_t kParamWanAddress = 15;
inline constexpr std::uint16_t kParamSubnetMask = 16;
inline constexpr std::uint16_t kParamGateway = 17;
inline constexpr std::uint16_t kParamDnsServer = 18;
inline constexpr std::uint16_t kParamDhcpClient = 24;
inline constexpr std::uint16_t kParamNat = 25;
inline constexpr std::uint16_t kParamRegisterMask = 58;
inline constexpr std::uint16_t kParamRegisterFirst = 59;   // 59-63, one per register text

inline constexpr std::size_t kNameLen = 64;
inline constexpr std::size_t kPasswordLen = 16;
// Register access, deregister access, register address, Ringlet, PSTN.
inline constexpr std::array<std::size_t, 5> kRegisterLens = {64, 64, 64, 32, 32};
// What the pages hand the store at most; the store itself refuses more than a value holds.
inline constexpr std::size_t kTextCap = 64;

inline constexpr std::uint16_t kParamBootVersion = 13;
inline constexpr std::uint16_t kParamProgramVersion = 14;

// modifiedMask bits.
inline constexpr std::uint32_t kModifiedBootVersion = 1u << 31;
inline constexpr std::uint32_t kModifiedProgramVersion = 1u << 30;
inline constexpr std::uint32_t kModifiedPassword = 1u << 28;
inline constexpr std::uint32_t kModifiedName = 1u << 29;
inline constexpr std::uint32_t kModifiedNetwork = (1u << 16) | (1u << 17);
inline constexpr std::uint32_t kModifiedStaticAddress = 0x0Fu << 24;

// The longest start of a UTF-8 text that has at most maxBytes bytes and does not end
// inside a character.
std::string_view Utf8Prefix(std::string_view text, std::size_t maxBytes);

struct ParamMasks {
    std::uint32_t& modified;
    std::uint32_t& registered;
};

// Name (parameter 8, at most 64 bytes, cut between characters) and password
// (parameter 3; more than 16 bytes are refused), then the masks, then the save.
// The caller compares the password with its confirmation first.
bool ApplyNamePassword(CParamStore& store, std::string_view name, std::string_view password, ParamMasks masks);

using Ipv4 = std::array<std::uint8_t, 4>;

enum class NetworkMode { Hub, RouterAutomatic, RouterManual };

struct NetworkSettings {
    NetworkMode mode = NetworkMode::RouterAutomatic;
    // Used in manual router mode only.
    Ipv4 address{};
    Ipv4 subnetMask{};
    Ipv4 gateway{};
    Ipv4 dns{};
};

// NAT (25) and DHCP client (24) switches; in manual mode the DNS server, gateway,
// address and subnet mask (18, 17, 15, 16, in this order); then the masks and the save.
bool ApplyNetwork(CParamStore& store, const NetworkSettings& settings, ParamMasks masks);

// The five register texts into parameters 59-63 (an empty text clears its parameter;
// a text longer than its parameter is refused, never cut), a registerMask bit per text
// written, then the masks and the save.
bool ApplyRegister(CParamStore& store, const std::array<std::string, 5>& texts, ParamMasks masks);

enum class FirmwareArea { Boot, Program };

// The version of the firmware file about to be downloaded (four bytes, most significant
// first) into parameter 13 (boot) or 14 (program) with its modifiedMask bit, then the
// masks and the save.
bool ApplyFirmwareVersion(CParamStore& store, FirmwareArea area, const std::array<std::uint8_t, 4>& version,
                          ParamMasks masks);

// The names of the fields the masks mark as changed, comma-separated in a fixed order
// ("name,password"), for the update history: what a download changed, never the values.
std::string ChangedFieldNames(std::uint32_t modified, std::uint32_t registered);

// "192.168.0.254": four decimal fields of 0-255, nothing else. None for anything else.
std::optional<Ipv4> ParseIpv4(std::string_view text);

}  // namespace param
