#include "fdp/param/ParamTasks.h"

#include <charconv>

#include "fdp/param/ParamStore.h"

namespace param {

namespace {

bool SetBytes(CParamStore& store, std::uint16_t id, std::span<const std::uint8_t> bytes) {
    return store.SetParam(id, bytes);
}

bool SetByte(CParamStore& store, std::uint16_t id, std::uint8_t value) {
    const std::uint8_t byte[1] = {value};
    return SetBytes(store, id, byte);
}

bool SetDword(CParamStore& store, std::uint16_t id, std::uint32_t value) {
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                   static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    return SetBytes(store, id, bytes);
}

// Both masks into the block, registerMask first, then the working file.
bool Commit(CParamStore& store, std::uint32_t modified, std::uint32_t registered) {
    return SetDword(store, kParamRegisterMask, registered) && SetDword(store, kParamModifiedMask, modified) &&
           store.SaveParam();
}

// Runs a task's writes, which set their mask bits as they go, then commits the masks
// and saves. Any failure puts the block back as it was before the task and leaves both
// masks 0.
template <typename Writes>
bool RunTask(CParamStore& store, ParamMasks masks, Writes writes) {
    masks.modified = 0;
    masks.registered = 0;
    const ParamBlock before = store.Block();
    std::uint32_t modified = 0, registered = 0;
    if (writes(modified, registered) && Commit(store, modified, registered)) {
        masks.modified = modified;
        masks.registered = registered;
        return true;
    }
    store.SetBlock(before.bytes);
    return false;
}

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

std::string_view Utf8Prefix(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return text;
    std::size_t end = maxBytes;
    // The byte after the cut continues a character: step back to that character's start.
    while (end > 0 && IsContinuation(text[end])) --end;
    return text.substr(0, end);
}

bool ApplyNamePassword(CParamStore& store, std::string_view name, std::string_view password, ParamMasks masks) {
    return RunTask(store, masks, [&](std::uint32_t& modified, std::uint32_t&) {
        if (!store.SetText(kParamFriendlyName, Utf8Prefix(name, kTextCap))) return false;
        modified |= kModifiedName;
        if (!store.SetText(kParamPassword, password.substr(0, std::min(password.size(), kTextCap)))) return false;
        modified |= kModifiedPassword;
        return true;
    });
}

bool ApplyNetwork(CParamStore& store, const NetworkSettings& settings, ParamMasks masks) {
    return RunTask(store, masks, [&](std::uint32_t& modified, std::uint32_t&) {
        if (settings.mode == NetworkMode::Hub) {
            if (!SetByte(store, kParamNat, 0) || !SetByte(store, kParamDhcpClient, 0)) return false;
        } else if (!SetByte(store, kParamNat, 1)) {
            return false;
        } else if (settings.mode == NetworkMode::RouterAutomatic) {
            if (!SetByte(store, kParamDhcpClient, 1)) return false;
        } else {
            if (!SetByte(store, kParamDhcpClient, 0) || !SetBytes(store, kParamDnsServer, settings.dns) ||
                !SetBytes(store, kParamGateway, settings.gateway) || !SetBytes(store, kParamWanAddress, settings.address) ||
                !SetBytes(store, kParamSubnetMask, settings.subnetMask))
                return false;
            modified |= kModifiedStaticAddress;
        }
        modified |= kModifiedNetwork;
        return true;
    });
}

bool ApplyRegister(CParamStore& store, const std::array<std::string, 5>& texts, ParamMasks masks) {
    return RunTask(store, masks, [&](std::uint32_t&, std::uint32_t& registered) {
        for (std::size_t i = 0; i < texts.size(); ++i) {
            const auto id = static_cast<std::uint16_t>(kParamRegisterFirst + i);
            // The whole text or nothing: a code or number cut short would be a wrong one.
            if (!store.SetText(id, texts[i])) return false;
            registered |= 1u << i;
        }
        return true;
    });
}

bool ApplyFirmwareVersion(CParamStore& store, FirmwareArea area, const std::array<std::uint8_t, 4>& version,
                          ParamMasks masks) {
    const bool boot = area == FirmwareArea::Boot;
    return RunTask(store, masks, [&](std::uint32_t& modified, std::uint32_t&) {
        if (!SetBytes(store, boot ? kParamBootVersion : kParamProgramVersion, version)) return false;
        modified |= boot ? kModifiedBootVersion : kModifiedProgramVersion;
        return true;
    });
}

std::optional<Ipv4> ParseIpv4(std::string_view text) {
    Ipv4 address{};
    for (std::size_t field = 0; field < address.size(); ++field) {
        const std::size_t dot = text.find('.');
        const std::string_view part = field + 1 < address.size() ? text.substr(0, dot) : text;
        if ((field + 1 < address.size()) == (dot == std::string_view::npos)) return std::nullopt;
        if (part.empty() || part.size() > 3) return std::nullopt;
        unsigned value = 0;
        const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
        if (error != std::errc{} || end != part.data() + part.size() || value > 255) return std::nullopt;
        address[field] = static_cast<std::uint8_t>(value);
        if (dot != std::string_view::npos) text.remove_prefix(dot + 1);
    }
    return address;
}

std::string ChangedFieldNames(std::uint32_t modified, std::uint32_t registered) {
    static constexpr struct {
        std::uint32_t bits;
        const char* name;
    } kModified[] = {{kModifiedName, "name"},
                     {kModifiedPassword, "password"},
                     {kModifiedNetwork, "networkMode"},
                     {kModifiedStaticAddress, "staticAddress"}};
    static constexpr const char* kRegistered[] = {"registerAccessCode", "deregisterAccessCode", "registerAddress",
                                                  "ringletNumber", "pstnNumber"};
    std::string names;
    const auto add = [&names](const char* name) { names += (names.empty() ? "" : ",") + std::string(name); };
    for (const auto& field : kModified)
        if (modified & field.bits) add(field.name);
    for (std::size_t i = 0; i < std::size(kRegistered); ++i)
        if (registered & (1u << i)) add(kRegistered[i]);
    return names;
}

}  // namespace param
