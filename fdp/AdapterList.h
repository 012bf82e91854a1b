// Discovery of the Ethernet adapters that can carry the link, read from sysfs.
// Thread: whoever owns the packet driver; no state beyond the settings below.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fdp/FrameCodec.h"

namespace fdp {

// How likely an interface is to be the cable to the target, best first: a wired
// adapter on the machine's own bus, then a USB adapter (or the target's own USB network
// interface), then Wi-Fi and whatever is stacked on it (a bridge, VLAN or macvlan over a
// wireless adapter), then interfaces without a device (veth, tap, bridges, VLANs, bonds,
// dummies). Only the first two carry a login unless the user names the interface: a
// stranger who owns a virtual interface, or anyone on the air, must not be given it.
enum AdapterRank : int {
    RankWired = 0,
    RankUsb = 1,
    RankWireless = 2,
    RankVirtual = 3,
};

// One row of the adapter table.
struct AdapterEntry {
    std::string description;   // "<interface>: Ethernet adapter (<driver>)"
    std::string name;          // the interface name, which the capture library opens
    int ethernet = 0;          // 1 if the description contains "thernet"
    AdapterRank rank = RankVirtual;
    long ifindex = 0;
};

class CAdapterList {
public:
    // root is the folder holding one folder per interface; tests point it at a fake tree.
    explicit CAdapterList(std::string root = "/sys/class/net") : m_root(std::move(root)) {}

    // Restricts Enumerate to the interfaces named: a comma-separated list of names and
    // shell patterns ("kv*,enx*", as fnmatch reads them); empty lists every interface.
    void SetInterfaceFilter(std::string list);
    // The list as given.
    const std::string& InterfaceFilter() const { return m_filter; }
    // Whether the list names this interface (false for an empty list).
    bool Names(std::string_view interfaceName) const;
    // Whether the list is one plain name, no pattern: its absence is told by that name.
    bool FilterIsOneName() const;
    // Whether announces on this adapter may be answered with a login: a wired or USB one,
    // or one the list names, whatever its kind.
    bool MayCarryLogin(const AdapterEntry& entry) const { return entry.rank <= RankUsb || Names(entry.name); }
    // The names of the interfaces that are up and carry no login unless named, of this rank.
    std::vector<std::string> UnnamedUp(AdapterRank rank) const;

    // Interfaces of hardware type 1 (Ethernet), loopback excluded, best rank first and
    // in ifindex order within a rank, at most `limit` of them.
    std::vector<AdapterEntry> Enumerate(std::size_t limit) const;

    // The row of one interface, as Enumerate would give it (the filter applies); nothing
    // for an interface that is absent, not Ethernet or loopback.
    std::optional<AdapterEntry> Describe(const std::string& interfaceName) const;

    // The rank of the interface as it is now; RankVirtual when it cannot be read.
    AdapterRank RankOf(const std::string& interfaceName) const;

    // The interface's own Ethernet address; false when it cannot be read or parsed.
    bool ReadAddress(const std::string& interfaceName, MacAddress& address) const;

private:
    // The interface's folder under the root; nothing for a name that is no plain name or
    // an interface that is not there.
    std::optional<std::filesystem::path> FolderOf(const std::string& interfaceName) const;

    std::string m_root;
    std::string m_filter;
    std::vector<std::string> m_patterns;   // m_filter split at its commas, empty items left out
};

}  // namespace fdp
