#include "fdp/LinkWatcher.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <utility>

namespace fdp {

namespace {

// NLMSG_OK's checks, spelled out: the macro compares the message's unsigned length with
// the signed count of bytes left, which some compilers reject as a sign mismatch.
bool LinkMessageFits(const nlmsghdr* header, int remaining) {
    return remaining >= static_cast<int>(sizeof(nlmsghdr)) && header->nlmsg_len >= sizeof(nlmsghdr) &&
           header->nlmsg_len <= static_cast<unsigned>(remaining);
}

}  // namespace

std::vector<LinkChange> ParseLinkMessages(const std::uint8_t* data, std::size_t length) {
    std::vector<LinkChange> changes;
    int remaining = static_cast<int>(length);
    for (auto* header = reinterpret_cast<const nlmsghdr*>(data); LinkMessageFits(header, remaining);
         header = NLMSG_NEXT(header, remaining)) {
        if (header->nlmsg_type != RTM_NEWLINK && header->nlmsg_type != RTM_DELLINK) continue;
        if (header->nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg))) continue;
        const auto* info = static_cast<const ifinfomsg*>(NLMSG_DATA(header));
        LinkChange change;
        change.gone = header->nlmsg_type == RTM_DELLINK;
        change.ifindex = info->ifi_index;
        int attributesLength = static_cast<int>(header->nlmsg_len - NLMSG_LENGTH(sizeof(ifinfomsg)));
        for (auto* attribute = IFLA_RTA(info); RTA_OK(attribute, attributesLength);
             attribute = RTA_NEXT(attribute, attributesLength)) {
            if (attribute->rta_type != IFLA_IFNAME) continue;
            const char* name = static_cast<const char*>(RTA_DATA(attribute));
            change.name.assign(name, ::strnlen(name, RTA_PAYLOAD(attribute)));
        }
        if (!change.name.empty()) changes.push_back(std::move(change));
    }
    return changes;
}

void CLinkWatcher::Open() {
    if (m_fd >= 0) return;
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) return;
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_LINK;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return;
    }
    m_fd = fd;
}

void CLinkWatcher::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

std::vector<LinkChange> CLinkWatcher::ReadChanges() {
    std::uint8_t buffer[16384];
    std::vector<LinkChange> changes;
    for (;;) {
        const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got <= 0) break;   // drained, or overrun (ENOBUFS)
        auto more = ParseLinkMessages(buffer, static_cast<std::size_t>(got));
        changes.insert(changes.end(), more.begin(), more.end());
    }
    return changes;
}

}  // namespace fdp
