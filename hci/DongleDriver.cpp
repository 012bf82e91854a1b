#include "hci/DongleDriver.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "hci/H4Reassembler.h"
#include "hci/HciPacket.h"
#include "hci/HciTransport.h"

namespace hci {

CDongleDriver::~CDongleDriver() { CloseCommPort(kHandle); }

void CDongleDriver::SetError(std::string text) {
    std::lock_guard lock(m_errorLock);
    m_error = std::move(text);
}

std::string CDongleDriver::LastError() const {
    std::lock_guard lock(m_errorLock);
    return m_error;
}

int CDongleDriver::OpenCommPort(const std::string& device) {
    if (m_fd >= 0) {
        SetError(device + ": the dongle port is already open");
        return 0;
    }
    HciOpenResult opened = OpenHciTransport(device);
    if (opened.fd < 0) {
        SetError(std::move(opened.error));
        return 0;
    }
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0) {
        SetError(std::string("cannot create the reader's wake-up: ") + std::strerror(errno));
        ::close(opened.fd);
        return 0;
    }
    m_fd = opened.fd;
    struct stat info {};
    m_socket = ::fstat(m_fd, &info) == 0 && S_ISSOCK(info.st_mode);
    SetError({});
    m_stop = false;
    m_ended = false;
    m_reader = std::thread([this] { ReaderMain(); });
    return kHandle;
}

int CDongleDriver::CloseCommPort(int handle) {
    if (handle != kHandle || m_fd < 0) return 0;
    m_stop = true;
    ::eventfd_write(m_wakeFd, 1);
    if (m_reader.joinable()) m_reader.join();
    ::close(m_fd);
    ::close(m_wakeFd);
    m_fd = m_wakeFd = -1;
    return 1;
}

int CDongleDriver::RegisterAddRcvData(ReceiveFn receive) {
    std::lock_guard lock(m_callbackLock);
    m_receive = std::move(receive);
    return 1;
}

int CDongleDriver::RegisterHandleRcvData(IdleFn idle) {
    std::lock_guard lock(m_callbackLock);
    m_idle = std::move(idle);
    return 1;
}

void CDongleDriver::RegisterEnd(EndFn end) {
    std::lock_guard lock(m_callbackLock);
    m_end = std::move(end);
    // A controller that hung up at once is not missed by a late registration.
    if (m_ended && m_end) m_end(LastError());
}

int CDongleDriver::SendDataToInt(const HciPacketBuffer& buffer) {
    const auto packet = buffer.Hci();
    if (packet.empty()) return 0;
    return SendPacket(packet) ? 1 : 0;
}

bool CDongleDriver::SendPacket(std::span<const std::uint8_t> packet) {
    std::lock_guard lock(m_sendLock);
    if (m_fd < 0) return false;
    // A user channel takes the packet in one write; a stream may take it in pieces.
    while (!packet.empty()) {
        const ssize_t n = m_socket ? ::send(m_fd, packet.data(), packet.size(), MSG_NOSIGNAL)
                                   : ::write(m_fd, packet.data(), packet.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            SetError(std::string("writing to the dongle failed: ") + std::strerror(errno));
            return false;
        }
        packet = packet.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

void CDongleDriver::ReaderEnded(std::string reason) {
    if (m_stop) return;   // closed by its owner, not gone
    SetError(reason);
    std::lock_guard lock(m_callbackLock);
    m_ended = true;
    if (m_end) m_end(reason);
}

void CDongleDriver::ReaderMain() {
    CH4Reassembler reassembler;
    std::uint8_t chunk[4096];
    while (!m_stop) {
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            ReaderEnded(std::string("waiting for the dongle failed: ") + std::strerror(errno));
            return;
        }
        if (m_stop || (fds[1].revents & POLLIN)) return;
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) {
            ReaderEnded(n == 0 ? "the dongle closed its channel"
                               : std::string("reading from the dongle failed: ") + std::strerror(errno));
            return;
        }
        std::lock_guard lock(m_callbackLock);
        reassembler.Feed(std::span(chunk, static_cast<std::size_t>(n)), [this](std::span<const std::uint8_t> packet) {
            if (m_receive) m_receive(0, packet);
        });
        if (m_idle) m_idle();
    }
}

}  // namespace hci
