#include "fdp/AdapterList.h"

#include <net/if.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>

#include "fdp/DebugTrace.h"

namespace fdp {

namespace fs = std::filesystem;

namespace {

constexpr long kArphrdEther = 1;

// The first line of a small sysfs attribute, without its line end.
std::optional<std::string> ReadAttribute(const fs::path& path) {
    std::ifstream in(path);
    if (!in) return std::nullopt;
    std::string line;
    if (!std::getline(in, line)) return std::nullopt;
    return line;
}

// A decimal or 0x-prefixed number; nothing for anything else.
std::optional<long> ParseNumber(const std::optional<std::string>& text) {
    if (!text || text->empty()) return std::nullopt;
    char* end = nullptr;
    const long value = std::strtol(text->c_str(), &end, 0);
    if (end == text->c_str()) return std::nullopt;
    return value;
}

std::optional<long> ReadNumber(const fs::path& path) { return ParseNumber(ReadAttribute(path)); }

// The kernel driver bound to the interface's device; virtual interfaces (veth, bridges,
// tunnels) have no device and say so.
std::string DriverOf(const fs::path& interfaceDir) {
    std::error_code error;
    const fs::path target = fs::read_symlink(interfaceDir / "device" / "driver", error);
    if (error || target.filename().empty()) return "virtual";
    return target.filename().string();
}

// Wi-Fi interfaces carry a "wireless" folder or a "phy80211" link; USB adapters sit on
// a device of the usb subsystem; interfaces without a device are virtual.
AdapterRank RankOf(const fs::path& interfaceDir) {
    std::error_code error;
    // Wireless first: whatever else it is, a login must not go out on it unasked.
    if (fs::exists(interfaceDir / "wireless", error) || fs::exists(interfaceDir / "phy80211", error))
        return RankWireless;
    if (!fs::exists(interfaceDir / "device", error)) return RankVirtual;
    const fs::path subsystem = fs::read_symlink(interfaceDir / "device" / "subsystem", error);
    if (!error && subsystem.filename() == "usb") return RankUsb;
    return RankWired;
}

// The row of the interface in this folder; nothing unless it is Ethernet and not loopback.
std::optional<AdapterEntry> ReadEntry(const fs::path& dir) {
    const auto typeText = ReadAttribute(dir / "type");
    if (!typeText) DebugTrace("Can't open %s\n", (dir / "type").c_str());
    const auto type = ParseNumber(typeText);
    if (!type || *type != kArphrdEther) return std::nullopt;
    const auto flags = ReadNumber(dir / "flags");
    if (flags && (*flags & IFF_LOOPBACK)) return std::nullopt;
    AdapterEntry entry;
    entry.name = dir.filename().string();
    entry.ifindex = ReadNumber(dir / "ifindex").value_or(0);
    entry.rank = RankOf(dir);
    entry.description = entry.name + ": Ethernet adapter (" + DriverOf(dir) + ")";
    entry.ethernet = entry.description.find("thernet") != std::string::npos ? 1 : 0;
    return entry;
}

bool Better(const AdapterEntry& a, const AdapterEntry& b) {
    if (a.rank != b.rank) return a.rank < b.rank;
    return a.ifindex != b.ifindex ? a.ifindex < b.ifindex : a.name < b.name;
}

}  // namespace

std::vector<AdapterEntry> CAdapterList::Enumerate(std::size_t limit) const {
    std::vector<AdapterEntry> found;
    std::error_code error;
    fs::directory_iterator it(m_root, error);
    if (error) {
        DebugTrace("Can't open %s\n", m_root.c_str());
        return {};
    }
    // Stepped with an error code: a failing step ends the list with what it holds.
    for (const fs::directory_iterator end; it != end; it.increment(error)) {
        const fs::directory_entry& item = *it;
        const std::string name = item.path().filename().string();
        if (!m_filter.empty() && name != m_filter) continue;
        std::error_code kind;
        if (!item.is_directory(kind)) continue;   // bonding_masters and other plain files
        if (auto entry = ReadEntry(item.path())) found.push_back(std::move(*entry));
    }
    if (error) DebugTrace("Can't enumerate %s\n", m_root.c_str());
    std::sort(found.begin(), found.end(), Better);
    if (found.size() > limit) found.resize(limit);
    return found;
}

std::optional<AdapterEntry> CAdapterList::Describe(const std::string& interfaceName) const {
    if (interfaceName.empty() || interfaceName.find('/') != std::string::npos || interfaceName == "." ||
        interfaceName == "..")
        return std::nullopt;
    if (!m_filter.empty() && interfaceName != m_filter) return std::nullopt;
    std::error_code error;
    const fs::path dir = fs::path(m_root) / interfaceName;
    if (!fs::is_directory(dir, error)) return std::nullopt;
    return ReadEntry(dir);
}

bool CAdapterList::ReadAddress(const std::string& interfaceName, MacAddress& address) const {
    if (interfaceName.empty() || interfaceName.find('/') != std::string::npos) return false;
    const auto text = ReadAttribute(fs::path(m_root) / interfaceName / "address");
    if (!text) return false;
    unsigned bytes[kEthAddrLen];
    int consumed = 0;
    if (std::sscanf(text->c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%n", &bytes[0], &bytes[1], &bytes[2],
                    &bytes[3], &bytes[4], &bytes[5], &consumed) != 6 ||
        static_cast<std::size_t>(consumed) != text->size())
        return false;
    for (std::size_t i = 0; i < kEthAddrLen; ++i) address[i] = static_cast<std::uint8_t>(bytes[i]);
    return true;
}

}  // namespace fdp
