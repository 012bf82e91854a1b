// Discovery of the Ethernet adapters that can carry the link, read from sysfs.
// Thread: whoever owns the packet driver; no state beyond the settings below.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "fdp/FrameCodec.h"

namespace fdp {

// How likely an interface is to be the cable to the target, best first: a wired
// adapter on the machine's own bus, then a USB adapter (or the target's own USB network
// interface), then Wi-Fi, then interfaces without a device (veth, bridges, tunnels).
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

    // Restricts Enumerate to the interface of this name; empty lists every interface.
    void SetInterfaceFilter(std::string name) { m_filter = std::move(name); }
    const std::string& InterfaceFilter() const { return m_filter; }

    // Interfaces of hardware type 1 (Ethernet), loopback excluded, best rank first and
    // in ifindex order within a rank, at most `limit` of them.
    std::vector<AdapterEntry> Enumerate(std::size_t limit) const;

    // The row of one interface, as Enumerate would give it (the filter applies); nothing
    // for an interface that is absent, not Ethernet or loopback.
    std::optional<AdapterEntry> Describe(const std::string& interfaceName) const;

    // The interface's own Ethernet address; false when it cannot be read or parsed.
    bool ReadAddress(const std::string& interfaceName, MacAddress& address) const;

private:
    std::string m_root;
    std::string m_filter;
};

}  // namespace fdp
