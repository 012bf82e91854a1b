// A Bluetooth controller played by a test over a real Unix stream socket (the unix:
// transport): it records every packet the host writes, answers through a responder,
// and can write its own bytes one at a time, as a slow serial line would.
#pragma once

#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "hci/H4Reassembler.h"

namespace hci::test {

using Bytes = std::vector<std::uint8_t>;

class ScriptedController {
public:
    // Gets each packet from the host (from its indicator on); returns the bytes to answer.
    using Responder = std::function<Bytes(const Bytes& packet)>;

    ScriptedController() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kelvane-hci-XXXXXX").string();
        if (::mkdtemp(pattern.data())) m_dir = pattern;
        m_path = m_dir + "/controller";
        m_listen = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, m_path.c_str(), sizeof address.sun_path - 1);
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_listen, 1);
        m_thread = std::thread([this] { Main(); });
    }
    ~ScriptedController() {
        m_stop = true;
        m_thread.join();
        if (m_client >= 0) ::close(m_client);
        ::close(m_listen);
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }

    std::string Device() const { return "unix:" + m_path; }
    void SetResponder(Responder responder) {
        std::lock_guard lock(m_lock);
        m_responder = std::move(responder);
    }
    // Writes bytes to the host, one write per byte when slowly.
    void Send(const Bytes& bytes, bool slowly = false) {
        WaitConnected();
        std::lock_guard lock(m_writeLock);
        if (!slowly) {
            WriteAll(bytes.data(), bytes.size());
            return;
        }
        for (std::uint8_t b : bytes) {
            WriteAll(&b, 1);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
    // Hangs up on the host, as a controller unplugged or a server that went away: the
    // host reads the end of its stream, and its writes fail from then on.
    void HangUp() {
        WaitConnected();
        std::lock_guard lock(m_writeLock);
        ::shutdown(m_client, SHUT_RDWR);
    }
    // The packets the host has written so far.
    std::vector<Bytes> Received() const {
        std::lock_guard lock(m_lock);
        return m_received;
    }
    // Waits until the host has written at least count packets.
    bool WaitReceived(std::size_t count, std::chrono::milliseconds within = std::chrono::milliseconds(2000)) {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, within, [&] { return m_received.size() >= count; });
    }

private:
    void WaitConnected() {
        std::unique_lock lock(m_lock);
        m_changed.wait_for(lock, std::chrono::seconds(2), [this] { return m_client >= 0; });
    }
    void WriteAll(const std::uint8_t* data, std::size_t size) {
        while (size) {
            const ssize_t n = ::write(m_client, data, size);
            if (n <= 0) return;
            data += n;
            size -= static_cast<std::size_t>(n);
        }
    }
    void Main() {
        while (!m_stop) {
            pollfd fd{m_listen, POLLIN, 0};
            if (::poll(&fd, 1, 20) > 0) break;
        }
        if (m_stop) return;
        {
            std::lock_guard lock(m_lock);
            m_client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        }
        m_changed.notify_all();
        CH4Reassembler reassembler;
        std::uint8_t chunk[1024];
        while (!m_stop) {
            pollfd fd{m_client, POLLIN, 0};
            if (::poll(&fd, 1, 20) <= 0) continue;
            const ssize_t n = ::read(m_client, chunk, sizeof chunk);
            if (n <= 0) return;
            reassembler.Feed(std::span(chunk, static_cast<std::size_t>(n)), [this](std::span<const std::uint8_t> packet) {
                Bytes hci(packet.begin() + 4, packet.end());
                Responder responder;
                {
                    std::lock_guard lock(m_lock);
                    m_received.push_back(hci);
                    responder = m_responder;
                }
                m_changed.notify_all();
                if (responder) {
                    const Bytes answer = responder(hci);
                    std::lock_guard lock(m_writeLock);
                    WriteAll(answer.data(), answer.size());
                }
            });
        }
    }

    std::string m_dir, m_path;
    int m_listen = -1;
    int m_client = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::mutex m_writeLock;
    Responder m_responder;
    std::vector<Bytes> m_received;
};

// A Command Complete event for opcode with status and return parameters.
inline Bytes CommandComplete(std::uint16_t opcode, std::uint8_t status, const Bytes& more = {}) {
    Bytes event = {0x04, 0x0E, static_cast<std::uint8_t>(4 + more.size()), 0x01, static_cast<std::uint8_t>(opcode),
                   static_cast<std::uint8_t>(opcode >> 8), status};
    event.insert(event.end(), more.begin(), more.end());
    return event;
}

}  // namespace hci::test
