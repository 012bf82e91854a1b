// An automatically resetting event: Set wakes one Wait and the event clears itself.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace fdp {

class CAutoResetEvent {
public:
    void Set() {
        { std::lock_guard lock(m_mutex); m_signalled = true; }
        m_cv.notify_one();
    }
    void Reset() { std::lock_guard lock(m_mutex); m_signalled = false; }
    // Waits without limit; returns with the event cleared.
    void Wait() {
        std::unique_lock lock(m_mutex);
        m_cv.wait(lock, [this] { return m_signalled; });
        m_signalled = false;
    }
    // True if the event was signalled within the time; it is then cleared.
    bool WaitFor(std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        if (!m_cv.wait_for(lock, timeout, [this] { return m_signalled; })) return false;
        m_signalled = false;
        return true;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_signalled = false;
};

}  // namespace fdp
