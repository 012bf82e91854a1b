#include "fdp/AdapterTable.h"

#include <net/if.h>

#include <algorithm>
#include <utility>

namespace fdp {

void CAdapterTable::Replace(std::vector<AdapterEntry> rows) {
    Release();
    m_rows = std::move(rows);
}

void CAdapterTable::Use(int row) {
    m_inUse = row;
    UpdateLinkIfindex();
}

void CAdapterTable::Release() {
    m_inUse = -1;
    m_linkIfindex = 0;
}

void CAdapterTable::UpdateLinkIfindex() {
    m_linkIfindex = 0;
    if (m_inUse < 0) return;
    const auto row = static_cast<std::size_t>(m_inUse);
    if (MayCarryLogin(row)) m_linkIfindex = static_cast<int>(m_rows[row].ifindex);
}

int CAdapterTable::RowForIfindex(int ifindex) {
    if (ifindex <= 0) return -1;
    for (std::size_t row = 0; row < m_rows.size(); ++row)
        if (m_rows[row].ifindex == ifindex) return static_cast<int>(row);
    // Heard before rtnetlink told of it (or after its messages overran): looked up now.
    char name[IF_NAMESIZE] = {};
    if (!::if_indextoname(static_cast<unsigned>(ifindex), name)) return -1;
    auto entry = m_adapters.Describe(name);
    if (!entry) return -1;
    entry->ifindex = ifindex;
    return AddRow(std::move(*entry));
}

int CAdapterTable::AddRow(AdapterEntry entry) {
    for (std::size_t row = 0; row < m_rows.size(); ++row) {
        if (m_rows[row].name != entry.name) continue;
        // Made again under a new ifindex, and perhaps as another kind of interface.
        m_rows[row].ifindex = entry.ifindex;
        m_rows[row].rank = entry.rank;
        m_rows[row].description = std::move(entry.description);
        if (static_cast<int>(row) == m_inUse) UpdateLinkIfindex();
        return static_cast<int>(row);
    }
    if (m_rows.size() < kMaxRows) {
        m_rows.push_back(std::move(entry));
        return static_cast<int>(m_rows.size() - 1);
    }
    // Full: the row of an interface that is gone makes room; the one in use stays.
    for (std::size_t row = 0; row < m_rows.size(); ++row) {
        if (m_rows[row].ifindex != 0 || static_cast<int>(row) == m_inUse) continue;
        m_rows[row] = std::move(entry);
        return static_cast<int>(row);
    }
    return -1;
}

CAdapterTable::InUseChange CAdapterTable::Apply(const std::vector<LinkChange>& changes) {
    InUseChange inUse;
    for (const LinkChange& change : changes) {
        auto row = std::find_if(m_rows.begin(), m_rows.end(),
                                [&](const AdapterEntry& entry) { return entry.name == change.name; });
        if (change.gone) {
            // Kept with its index, which the front end may name; heard again when it comes back.
            if (row != m_rows.end() && row->ifindex == change.ifindex) {
                row->ifindex = 0;
                if (row - m_rows.begin() == m_inUse) {
                    UpdateLinkIfindex();
                    inUse.lost = row->name;
                }
            }
            continue;
        }
        if (row != m_rows.end()) {
            if (row->ifindex == change.ifindex) continue;
            row->ifindex = change.ifindex;
            if (row - m_rows.begin() == m_inUse) inUse.remade = row->name;
            continue;
        }
        if (auto entry = m_adapters.Describe(change.name)) {
            entry->ifindex = change.ifindex;
            AddRow(std::move(*entry));
        }
    }
    // A name that comes back may be another kind of interface (a veth under a wired
    // adapter's old name), and an adapter put into a bridge or under a VLAN tells only
    // of itself, not of what now sits on it: every present row is ranked again.
    if (std::none_of(changes.begin(), changes.end(), [](const LinkChange& c) { return !c.gone; })) return inUse;
    for (AdapterEntry& entry : m_rows)
        if (entry.ifindex != 0) entry.rank = m_adapters.RankOf(entry.name);
    UpdateLinkIfindex();
    return inUse;
}

}  // namespace fdp
