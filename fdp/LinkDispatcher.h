// One packet driver shared by several link sessions: one receiver thread reads the
// driver's frames once and hands each to the session it belongs to, so that one process
// can serve several targets at once.
//
// A frame from a target that a session has logged in to (or is logging in to, or waits
// for by name) goes to that session alone; any other frame (an announce of a target no
// session claims) goes to every session, each of which takes what concerns it: a
// listening one counts the announce as a candidate, a logged-in one hears of another
// target. What the driver tells of its adapters (moved, lost, a notice) goes to every
// session, since they share the driver's adapter.
//
// Threads: Attach, Detach, Park and Unpark on any thread but the receiver; the sessions'
// frame handling runs on the receiver. Detach returns only when the receiver is not
// inside the session and never will be again.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fdp/FrameCodec.h"

namespace fdp {

class IPacketDriver;

// What the dispatcher hands a session; calls on the receiver thread, under the
// dispatcher's lock. The link session implements it.
class IDispatchedSession {
public:
    // The session has an adapter open: the receiver reads only while one does.
    virtual bool Opened() const = 0;
    // Frames from this source are this session's alone.
    virtual bool ClaimsTarget(const MacAddress& source) const = 0;
    virtual void HandleFrame(const std::uint8_t* frame, std::uint32_t length) = 0;
    // An announce the driver heard on another adapter and did not hand on.
    virtual void NoteAnnouncer(const MacAddress& source, int adapter) = 0;
    // The adapter the driver uses now (-1: none).
    virtual void NoteAdapterIndex(int index) = 0;
    virtual void NoteNotice(const std::string& text) = 0;
    // The adapter in use was deleted.
    virtual void NoteAdapterLost(const std::string& adapter) = 0;

protected:
    ~IDispatchedSession() = default;
};

class CLinkDispatcher {
public:
    explicit CLinkDispatcher(IPacketDriver& driver);
    ~CLinkDispatcher();
    CLinkDispatcher(const CLinkDispatcher&) = delete;
    CLinkDispatcher& operator=(const CLinkDispatcher&) = delete;

    // Readies the driver and starts the receiver; Stop wakes it from its read, joins it
    // and releases the driver. Both on the owner's thread; Stop also from the destructor.
    void Start();
    void Stop();

    void Attach(IDispatchedSession* session);
    void Detach(IDispatchedSession* session);

    // The receiver must not be inside a read while an adapter is opened or closed under
    // it: Park wakes it from its read and waits until it is out; Unpark lets it read
    // again. Also tells the receiver that a session's state changed (it reads only while
    // some session has an adapter open).
    void Park();
    void Unpark();

    IPacketDriver& Driver() const { return m_driver; }

    // Walks the capture records of one read and hands each whole link frame to its
    // session. Public for the fuzz target; the receiver calls it.
    void DispatchCaptured(const std::uint8_t* data, std::uint32_t count);

private:
    void ReceiverMain();
    bool AnyOpenedLocked() const;
    // The session that claims frames from this source, null when none does. Under m_lock.
    IDispatchedSession* ClaimerLocked(const std::uint8_t* source) const;
    // What the driver tells after each read: the adapter moved or lost, a notice, the
    // announces it heard but did not hand on. Under m_lock.
    void TakeDriverNewsLocked();
    void DispatchLocked(const std::uint8_t* data, std::uint32_t count);

    IPacketDriver& m_driver;
    mutable std::mutex m_lock;   // the sessions, their frame handling, parking and stopping
    std::condition_variable m_changed;
    std::vector<IDispatchedSession*> m_sessions;
    bool m_started = false;
    bool m_stop = false;
    int m_parkRequested = 0;      // Park calls not yet undone
    bool m_parked = false;
    bool m_done = false;
    std::thread m_receiver;
};

}  // namespace fdp
