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

struct Candidate {
    long ifindex = 0;
    AdapterEntry entry;
};

}  // namespace

std::vector<AdapterEntry> CAdapterList::Enumerate(std::size_t limit) const {
    std::vector<Candidate> found;
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
        const auto typeText = ReadAttribute(item.path() / "type");
        if (!typeText) DebugTrace("Can't open %s\n", (item.path() / "type").c_str());
        const auto type = ParseNumber(typeText);
        if (!type || *type != kArphrdEther) continue;
        const auto flags = ReadNumber(item.path() / "flags");
        if (flags && (*flags & IFF_LOOPBACK)) continue;
        Candidate candidate;
        candidate.ifindex = ReadNumber(item.path() / "ifindex").value_or(0);
        candidate.entry.name = name;
        candidate.entry.description = name + ": Ethernet adapter (" + DriverOf(item.path()) + ")";
        candidate.entry.ethernet =
            candidate.entry.description.find("thernet") != std::string::npos ? 1 : 0;
        found.push_back(std::move(candidate));
    }
    if (error) DebugTrace("Can't enumerate %s\n", m_root.c_str());
    std::sort(found.begin(), found.end(), [](const Candidate& a, const Candidate& b) {
        return a.ifindex != b.ifindex ? a.ifindex < b.ifindex : a.entry.name < b.entry.name;
    });
    std::vector<AdapterEntry> adapters;
    for (auto& candidate : found) {
        if (adapters.size() >= limit) break;
        adapters.push_back(std::move(candidate.entry));
    }
    return adapters;
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
