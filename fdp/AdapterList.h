// Discovery of the Ethernet adapters that can carry the link, read from sysfs.
// Thread: whoever owns the packet driver; no state beyond the settings below.
#pragma once

#include <string>
#include <vector>

#include "fdp/Frame.h"

namespace fdp {

// One row of the adapter table.
struct AdapterEntry {
    std::string description;   // "<interface>: Ethernet adapter (<driver>)"
    std::string name;          // the interface name, which the capture library opens
    int ethernet = 0;          // 1 if the description contains "thernet"
};

class CAdapterList {
public:
    // root is the folder holding one folder per interface; tests point it at a fake tree.
    explicit CAdapterList(std::string root = "/sys/class/net") : m_root(std::move(root)) {}

    // Restricts Enumerate to the interface of this name; empty lists every interface.
    void SetInterfaceFilter(std::string name) { m_filter = std::move(name); }
    const std::string& InterfaceFilter() const { return m_filter; }

    // Interfaces of hardware type 1 (Ethernet), loopback excluded, in ifindex order,
    // at most `limit` of them.
    std::vector<AdapterEntry> Enumerate(std::size_t limit) const;

    // The interface's own Ethernet address; false when it cannot be read or parsed.
    bool ReadAddress(const std::string& interfaceName, MacAddress& address) const;

private:
    std::string m_root;
    std::string m_filter;
};

}  // namespace fdp
