#include "fdp/AdapterList.h"

#include <fnmatch.h>
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

bool IsWireless(const fs::path& interfaceDir) {
    std::error_code error;
    return fs::exists(interfaceDir / "wireless", error) || fs::exists(interfaceDir / "phy80211", error);
}

// Bridges, bonds, VLANs and macvlans name what they sit on: a "lower_<name>" link for
// each interface below, and a bridge a "brif/<name>" entry per port. Deep enough for any
// stack a machine makes (a VLAN on a bridge on a bond ...), and it ends on a loop.
constexpr int kMaxStackDepth = 8;

bool StackedOnWireless(const fs::path& netRoot, const fs::path& interfaceDir, int depth) {
    if (depth >= kMaxStackDepth) return false;
    std::vector<std::string> below;
    std::error_code error;
    for (fs::directory_iterator it(interfaceDir, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.starts_with("lower_") && name.size() > 6) below.push_back(name.substr(6));
    }
    for (fs::directory_iterator it(interfaceDir / "brif", error), end; !error && it != end; it.increment(error))
        below.push_back(it->path().filename().string());
    for (const std::string& name : below) {
        if (name == "." || name == ".." || name.find('/') != std::string::npos) continue;
        const fs::path lower = netRoot / name;
        if (IsWireless(lower) || StackedOnWireless(netRoot, lower, depth + 1)) return true;
    }
    return false;
}

// Wi-Fi interfaces carry a "wireless" folder or a "phy80211" link, and whatever is stacked
// on one is on the air too; USB adapters sit on a device of the usb subsystem; interfaces
// without a device are virtual.
AdapterRank RankIn(const fs::path& netRoot, const fs::path& interfaceDir) {
    std::error_code error;
    // Wireless first: whatever else it is, a login must not go out on it unasked.
    if (IsWireless(interfaceDir) || StackedOnWireless(netRoot, interfaceDir, 0)) return RankWireless;
    if (!fs::exists(interfaceDir / "device", error)) return RankVirtual;
    const fs::path subsystem = fs::read_symlink(interfaceDir / "device" / "subsystem", error);
    if (!error && subsystem.filename() == "usb") return RankUsb;
    return RankWired;
}

// The row of the interface in this folder; nothing unless it is Ethernet and not loopback.
std::optional<AdapterEntry> ReadEntry(const fs::path& netRoot, const fs::path& dir) {
    const auto typeText = ReadAttribute(dir / "type");
    if (!typeText) DebugTrace("Can't open %s\n", (dir / "type").c_str());
    const auto type = ParseNumber(typeText);
    if (!type || *type != kArphrdEther) return std::nullopt;
    const auto flags = ReadNumber(dir / "flags");
    if (flags && (*flags & IFF_LOOPBACK)) return std::nullopt;
    AdapterEntry entry;
    entry.name = dir.filename().string();
    entry.ifindex = ReadNumber(dir / "ifindex").value_or(0);
    entry.rank = RankIn(netRoot, dir);
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
        if (!m_filter.empty() && !Names(name)) continue;
        std::error_code kind;
        if (!item.is_directory(kind)) continue;   // bonding_masters and other plain files
        if (auto entry = ReadEntry(m_root, item.path())) found.push_back(std::move(*entry));
    }
    if (error) DebugTrace("Can't enumerate %s\n", m_root.c_str());
    std::sort(found.begin(), found.end(), Better);
    if (found.size() > limit) found.resize(limit);
    return found;
}

std::optional<std::filesystem::path> CAdapterList::FolderOf(const std::string& interfaceName) const {
    // A name from outside (rtnetlink, the kernel's index): never a path that leaves the root.
    if (interfaceName.empty() || interfaceName.find('/') != std::string::npos || interfaceName == "." ||
        interfaceName == "..")
        return std::nullopt;
    std::error_code error;
    fs::path dir = fs::path(m_root) / interfaceName;
    if (!fs::is_directory(dir, error)) return std::nullopt;
    return dir;
}

std::optional<AdapterEntry> CAdapterList::Describe(const std::string& interfaceName) const {
    if (!m_filter.empty() && !Names(interfaceName)) return std::nullopt;
    const auto dir = FolderOf(interfaceName);
    return dir ? ReadEntry(m_root, *dir) : std::nullopt;
}

void CAdapterList::SetInterfaceFilter(std::string list) {
    m_filter = std::move(list);
    m_patterns.clear();
    for (std::size_t start = 0; start <= m_filter.size();) {
        const std::size_t comma = std::min(m_filter.find(',', start), m_filter.size());
        if (comma > start) m_patterns.push_back(m_filter.substr(start, comma - start));
        start = comma + 1;
    }
}

bool CAdapterList::Names(std::string_view interfaceName) const {
    const std::string name(interfaceName);
    return std::any_of(m_patterns.begin(), m_patterns.end(),
                       [&](const std::string& pattern) { return ::fnmatch(pattern.c_str(), name.c_str(), 0) == 0; });
}

bool CAdapterList::FilterIsOneName() const {
    return m_patterns.size() == 1 && m_patterns[0] == m_filter && m_filter.find_first_of("*?[\\") == std::string::npos;
}

AdapterRank CAdapterList::RankOf(const std::string& interfaceName) const {
    const auto dir = FolderOf(interfaceName);
    return dir ? RankIn(m_root, *dir) : RankVirtual;
}

std::vector<std::string> CAdapterList::UnnamedUp(AdapterRank rank) const {
    std::vector<AdapterEntry> found;
    std::error_code error;
    for (fs::directory_iterator it(m_root, error), end; !error && it != end; it.increment(error)) {
        std::error_code kind;
        if (!it->is_directory(kind) || Names(it->path().filename().string())) continue;
        const auto flags = ReadNumber(it->path() / "flags");
        if (!flags || !(*flags & IFF_UP)) continue;
        auto entry = ReadEntry(m_root, it->path());
        if (entry && entry->rank == rank && !MayCarryLogin(*entry)) found.push_back(std::move(*entry));
    }
    std::sort(found.begin(), found.end(), Better);
    std::vector<std::string> names;
    for (const AdapterEntry& entry : found) names.push_back(entry.name);
    return names;
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
