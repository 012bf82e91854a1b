// Hears of every network interface that appears, changes or goes (rtnetlink's link
// messages), so that the adapter table follows interfaces made after the start and
// interfaces deleted and made again (a USB target restarting) under a new ifindex.
//
// Threads: none of its own; its owner polls Descriptor() and reads the changes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fdp {

// An interface named in a link message: there (under this ifindex), or gone.
struct LinkChange {
    std::string name;
    int ifindex = 0;
    bool gone = false;
};

// The link messages of one read, checked against the bytes read: those that name an
// interface, in their order.
std::vector<LinkChange> ParseLinkMessages(const std::uint8_t* data, std::size_t length);

class CLinkWatcher {
public:
    CLinkWatcher() = default;
    ~CLinkWatcher() { Close(); }
    CLinkWatcher(const CLinkWatcher&) = delete;
    CLinkWatcher& operator=(const CLinkWatcher&) = delete;

    // Starts listening when it does not yet; without it (no socket to be had) the table
    // learns of new interfaces only when frames arrive on them.
    void Open();
    void Close();
    // What to poll for changes; -1 when closed.
    int Descriptor() const { return m_fd; }
    // The changes waiting, without waiting. Messages lost to an overrun are not told: the
    // table looks an interface up when an announce arrives on it.
    std::vector<LinkChange> ReadChanges();

private:
    int m_fd = -1;
};

}  // namespace fdp
