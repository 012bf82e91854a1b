// The packet driver's table of adapters: the rows of discovery, then interfaces heard
// of later, and which row the link uses. Rows are matched to frames by ifindex; a row
// whose interface is gone keeps its place (the front end may name its index) with
// ifindex 0 until the interface comes back.
//
// Threads: none of its own; the driver calls it under its lock.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "fdp/AdapterList.h"
#include "fdp/LinkWatcher.h"

namespace fdp {

class CAdapterTable {
public:
    // The list describes interfaces and says which may carry a login; it outlives the table.
    explicit CAdapterTable(const CAdapterList& adapters) : m_adapters(adapters) {}

    // Rows at most: the five of discovery, then late arrivals; a full table gives the
    // rows of interfaces that are gone to newcomers.
    static constexpr std::size_t kMaxRows = 32;

    // New rows, none of them in use.
    void Replace(std::vector<AdapterEntry> rows);
    std::size_t Size() const { return m_rows.size(); }
    bool Has(int row) const { return row >= 0 && row < static_cast<int>(m_rows.size()); }
    AdapterEntry& At(std::size_t row) { return m_rows[row]; }
    const AdapterEntry& At(std::size_t row) const { return m_rows[row]; }

    // The row in use, -1 when none.
    int InUse() const { return m_inUse; }
    void Use(int row);
    void Release();
    // The ifindex the link's frames come in on: the row in use's, 0 when none or when
    // that row may not carry a login.
    int LinkIfindex() const { return m_linkIfindex; }

    // May announces on this row be taken? From a wired or USB adapter, or a named one.
    bool MayCarryLogin(std::size_t row) const { return m_adapters.MayCarryLogin(m_rows[row]); }
    // The row of this interface (added when it is new and an Ethernet candidate); -1.
    int RowForIfindex(int ifindex);

    // What link changes did to the row in use.
    struct InUseChange {
        std::string lost;     // its interface was deleted: its name
        std::string remade;   // its interface was made again: its name
    };
    InUseChange Apply(const std::vector<LinkChange>& changes);

private:
    int AddRow(AdapterEntry entry);
    void UpdateLinkIfindex();

    const CAdapterList& m_adapters;
    std::vector<AdapterEntry> m_rows;
    int m_inUse = -1;
    int m_linkIfindex = 0;
};

}  // namespace fdp
