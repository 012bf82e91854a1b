// One completion wait: the worker arms it, sends a frame, then waits; the receiver
// completes it with a result byte when the answer arrives.
//
// Contract:
//  - Arm() clears any earlier completion. It must be called before the frame whose
//    answer is awaited is sent, so that an answer arriving at once is not lost.
//  - Complete() stores the result and wakes the waiter; any thread may call it. A late
//    completion (after a time-out) stays pending until the next Arm() clears it.
//  - Wait() returns the result, or nothing when the time-out expired first. It yields
//    for up to kSpin before it sleeps, since most answers come sooner than a wake-up.
//  - Shutdown() makes the wait in progress and every later one return FdpAborted (11)
//    at once; it is final, for the link's stop.
//  - Fail() makes the wait in progress and every later one return its result at once
//    until ClearFailure(): nothing can answer any more (the adapter went away), and a
//    wait armed just after must not sit out its time-out either.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

namespace fdp {

class CCompletionWait {
public:
    static constexpr std::uint8_t kAborted = 11;
    static constexpr std::chrono::microseconds kSpin{30};

    void Arm() {
        std::lock_guard lock(m_mutex);
        m_signalled = false;
        m_ready.store(false, std::memory_order_relaxed);
    }
    void Complete(std::uint8_t result) {
        {
            std::lock_guard lock(m_mutex);
            m_result = result;
            m_signalled = true;
            m_ready.store(true, std::memory_order_release);
        }
        m_cv.notify_all();
    }
    std::optional<std::uint8_t> Wait(std::uint32_t timeoutMs) {
        // The target answers a command within tens of microseconds; sleeping at once would
        // add a full thread wake-up to every block. So the waiter first yields for a short,
        // bounded time, then sleeps: it never spins while nothing is outstanding.
        const auto spinEnd = std::chrono::steady_clock::now() + kSpin;
        while (!m_ready.load(std::memory_order_acquire) && std::chrono::steady_clock::now() < spinEnd)
            std::this_thread::yield();
        std::unique_lock lock(m_mutex);
        const bool done = m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                        [this] { return m_signalled || m_shutdown || m_failure; });
        if (m_shutdown) return kAborted;
        if (m_failure) return *m_failure;
        if (!done) return std::nullopt;
        m_signalled = false;
        m_ready.store(false, std::memory_order_relaxed);
        return m_result;
    }
    void Shutdown() {
        {
            std::lock_guard lock(m_mutex);
            m_shutdown = true;
        }
        m_cv.notify_all();
    }
    void Fail(std::uint8_t result) {
        {
            std::lock_guard lock(m_mutex);
            m_failure = result;
        }
        m_cv.notify_all();
    }
    void ClearFailure() {
        std::lock_guard lock(m_mutex);
        m_failure.reset();
    }
    void Restart() {
        std::lock_guard lock(m_mutex);
        m_shutdown = false;
        m_signalled = false;
        m_failure.reset();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_signalled = false;
    std::atomic<bool> m_ready{false};
    bool m_shutdown = false;
    std::optional<std::uint8_t> m_failure;
    std::uint8_t m_result = 0;
};

}  // namespace fdp
