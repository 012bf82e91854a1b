#include "tools/nap-sim/NapServer.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <thread>


namespace napsim {

CNapServer::CNapServer(fdp::IPacketDriver& driver, CNapModel& model, CFrameLog* log, Timing timing)
    : m_driver(driver), m_model(model), m_log(log), m_timing(timing) {
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_model.SetSend([this](std::span<const std::uint8_t> frame, std::uint32_t delayMs) {
        if (delayMs == 0) return SendNow(frame);
        {
            std::lock_guard lock(m_delayedLock);
            m_delayed.emplace(Clock::now() + std::chrono::milliseconds(delayMs),
                              std::vector<std::uint8_t>(frame.begin(), frame.end()));
        }
        Wake();
    });
    if (m_log)
        m_model.SetLog([this](FrameDirection direction, std::span<const std::uint8_t> frame,
                              std::string_view note) { m_log->Frame(direction, frame, note); });
}

CNapServer::~CNapServer() {
    m_model.SetSend({});
    m_model.SetLog({});
    if (m_wakeFd >= 0) ::close(m_wakeFd);
}

void CNapServer::Wake() {
    if (m_wakeFd >= 0) ::eventfd_write(m_wakeFd, 1);
}

void CNapServer::SendNow(std::span<const std::uint8_t> frame) {
    if (frame.size() < fdp::kEthHeaderLen) return;
    std::lock_guard lock(m_sendLock);
    const auto payload = frame.subspan(fdp::kEthHeaderLen);
    if (!m_driver.SendFrame(frame.data(), payload.data(), static_cast<std::uint16_t>(payload.size())) && m_log)
        m_log->Event("send failed");
}

void CNapServer::ReceiverMain() {
    while (!m_stop) {
        std::uint32_t count = 0;
        const std::uint8_t* data = m_driver.ReceiveFrames(count);
        fdp::ForEachCapturedFrame(data, count, [this](std::span<const std::uint8_t> frame) {
            std::lock_guard lock(m_modelLock);
            // Only frames sent to this target are its business, as its network interface
            // would have it: on a shared segment another target's announces (broadcast)
            // are neither the PC's frames nor to be logged as such.
            const auto& own = m_model.Config().address;
            if (frame.size() < own.size() || !std::equal(own.begin(), own.end(), frame.begin())) return true;
            m_lastFromPc = Clock::now();
            m_model.HandleFrame(frame);
            return true;
        });
    }
}

void CNapServer::WithModel(const std::function<void(CNapModel&)>& fn) {
    std::lock_guard lock(m_modelLock);
    fn(m_model);
}

void CNapServer::Run(int stopFd) {
    std::thread receiver([this] { ReceiverMain(); });
    Clock::time_point nextAnnounce = Clock::now();
    bool announcing = false;
    for (;;) {
        const auto now = Clock::now();
        Clock::time_point due = Clock::time_point::max();
        {
            std::lock_guard lock(m_modelLock);
            // Announce while nobody is logged in; once logged in, only after the PC has
            // been quiet for the re-announce time, so that it can log in again.
            const bool quiet = m_timing.reannounceMs != 0 &&
                               now - m_lastFromPc >= std::chrono::milliseconds(m_timing.reannounceMs);
            const bool wanted = !m_model.LoggedIn() || quiet;
            if (wanted && !announcing) nextAnnounce = now;   // a new announce cycle starts at once
            announcing = wanted;
            if (announcing && nextAnnounce <= now) {
                m_model.Announce();
                nextAnnounce = now + std::chrono::milliseconds(m_timing.announceMs);
            }
            if (announcing) due = nextAnnounce;
            else if (m_timing.reannounceMs != 0)
                due = m_lastFromPc + std::chrono::milliseconds(m_timing.reannounceMs);
        }
        std::vector<std::vector<std::uint8_t>> ready;
        {
            std::lock_guard lock(m_delayedLock);
            while (!m_delayed.empty() && m_delayed.begin()->first <= now) {
                ready.push_back(std::move(m_delayed.begin()->second));
                m_delayed.erase(m_delayed.begin());
            }
            if (!m_delayed.empty()) due = std::min(due, m_delayed.begin()->first);
        }
        for (const auto& frame : ready) SendNow(frame);
        if (!ready.empty()) continue;

        int timeoutMs = -1;
        if (due != Clock::time_point::max()) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
            timeoutMs = static_cast<int>(std::clamp<long long>(wait, 0, 60000));
        }
        pollfd fds[2] = {{stopFd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, timeoutMs) > 0) {
            if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) break;
            if (fds[1].revents & POLLIN) {
                eventfd_t drained = 0;
                ::eventfd_read(m_wakeFd, &drained);
            }
        }
    }
    m_stop = true;
    m_driver.WakeReceiver();
    receiver.join();
}

}  // namespace napsim
