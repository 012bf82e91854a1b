// Serves a CNapModel on a packet driver: a receiver thread feeds every captured frame
// to the model, the serving thread (the caller of Run) announces while the target
// waits for a PC and sends the replies that the model delays.
//
// Threads: the model is only touched under the server's lock. Replies without delay
// go out on the receiver thread at once; delayed ones from the serving thread. Sends
// are serialised, since the driver has one send buffer.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "fdp/PacketDriver.h"
#include "tools/nap-sim/FrameLog.h"
#include "tools/nap-sim/NapModel.h"

namespace napsim {

class CNapServer {
public:
    struct Timing {
        std::uint32_t announceMs = 1000;
        std::uint32_t reannounceMs = 3000;   // 0: no announce after a login
    };

    // driver: initialised with the adapter open. log may be null.
    CNapServer(fdp::IPacketDriver& driver, CNapModel& model, CFrameLog* log, Timing timing);
    ~CNapServer();
    CNapServer(const CNapServer&) = delete;
    CNapServer& operator=(const CNapServer&) = delete;

    // Serves until stopFd becomes readable (e.g. a signalfd); then stops the receiver
    // and returns. Frames still delayed are not sent.
    void Run(int stopFd);
    // Runs fn on the model from another thread (the Bluetooth module's), serialised
    // with the frames; what the model sends goes out as its replies do.
    void WithModel(const std::function<void(CNapModel&)>& fn);

private:
    using Clock = std::chrono::steady_clock;
    void ReceiverMain();
    void SendNow(std::span<const std::uint8_t> frame);
    void Wake();

    fdp::IPacketDriver& m_driver;
    CNapModel& m_model;
    CFrameLog* m_log;
    Timing m_timing;

    std::mutex m_modelLock;                 // the model and m_lastFromPc
    Clock::time_point m_lastFromPc{};
    std::mutex m_sendLock;
    std::mutex m_delayedLock;
    std::multimap<Clock::time_point, std::vector<std::uint8_t>> m_delayed;
    std::atomic<bool> m_stop{false};
    int m_wakeFd = -1;                      // a delayed frame was queued
};

}  // namespace napsim
