// One login's link session: owns the link channel and the command layer and runs the
// worker, which carries out one job at a time and publishes its reports and ends as
// events through the front end. Frames reach it from a dispatcher's receiver, which
// completes the channel's and command layer's waits; several sessions may share one
// dispatcher (and so one packet driver), each logged in to its own target.
//
// Threads: Start, Stop, Submit, PrepareListen, Cancel and the adapter calls are made on
// the owner's thread; the calls marked "receiver" come from the dispatcher. Stop returns
// within about a second from every state: it aborts the wait in progress, leaves the
// dispatcher and joins the worker before anything it uses is released.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "fdp/AutoResetEvent.h"
#include "fdp/FdpTypes.h"
#include "fdp/Frame.h"
#include "fdp/LinkCallbacks.h"
#include "fdp/LinkDispatcher.h"
#include "fdp/LinkRequests.h"
#include "fdp/LinkTimeouts.h"

namespace fdp {

class CRequestFrontEnd;
class CLinkChannel;
class CLinkProtocol;
class IPacketDriver;

// The floor above the channel and the command layer (ILinkCallbacks) and the one the
// front end asks (ILinkRequests). Final: calls on the engine itself stay direct.
class CLinkSession final : public ILinkCallbacks, public ILinkRequests, public IDispatchedSession {
public:
    CLinkSession();
    ~CLinkSession() override;
    CLinkSession(const CLinkSession&) = delete;
    CLinkSession& operator=(const CLinkSession&) = delete;

    // A session of its own over the driver: it starts a dispatcher for it alone.
    int Start(IPacketDriver* driver, CRequestFrontEnd* frontEnd);
    // A session beside others over the dispatcher's driver (the dispatcher started).
    int Start(CLinkDispatcher& dispatcher, CRequestFrontEnd* frontEnd);
    int Stop();

    int EnumerateAdapters() override;
    // An OpenResult. OpenAlreadyOpen: the adapter was open already (another session over
    // the same dispatcher opened it); this session then uses it too.
    int OpenAdapter(std::uint16_t index) override;
    int CloseAdapter(std::uint16_t index);
    void GetLocalAddress(std::uint8_t* address);
    std::string GetAdapterDescription(int index);
    std::string GetAdapterName(int index);
    int IsEthernet(int index);

    int PrepareListen() override;
    int Submit(const FdpRequest& request) override;
    std::uint8_t CurrentJob() const override { return m_job.load(); }
    bool DownloadRunning() const override { return m_downloadRunning.load(); }
    int Cancel();
    EngineState State() const { return m_state.load(); }

    // Time-outs of the link's waits; tests shorten them. Set before Start.
    void SetTimeouts(const LinkTimeouts& timeouts) { m_timeouts = timeouts; }
    const LinkTimeouts& Timeouts() const override { return m_timeouts; }

    // Callbacks of the channel and the command layer.
    NextBlockResult NextBlock(std::uint32_t sentBytes) override;
    void GetCredentials(const MacAddress& target, PasswordBlock& block) override;
    void OnData(const std::uint8_t* body, std::uint32_t length) override;
    void OnTraceLength(std::uint32_t total) override;
    void OnTraceData(const std::uint8_t* data, std::uint32_t length) override;
    // Another target announced while the link logs in or is logged in (receiver thread).
    void OnOtherTarget(const MacAddress& address) override;
    // While listening, an announce was passed over (not the chosen target, or one served
    // already): the driver listens on every candidate again (receiver thread).
    void ListenOnEveryCandidate() override;
    // The driver moves to this adapter and scouts no more (worker thread, listening).
    bool UseAdapter(int index) override;

    // What the dispatcher hands on (receiver): whether frames from this source are this
    // session's alone, a frame, an announce the driver heard and did not hand on, the
    // adapter the driver uses now, a notice, and the loss of the adapter in use.
    bool Opened() const override { return m_state.load() != StateNotOpened; }
    bool ClaimsTarget(const MacAddress& source) const override;
    void HandleFrame(const std::uint8_t* frame, std::uint32_t length) override;
    void NoteAnnouncer(const MacAddress& source, int adapter) override;
    void NoteAdapterIndex(int index) override;
    void NoteNotice(const std::string& text) override;
    void NoteAdapterLost(const std::string& adapter) override;

    CLinkDispatcher* Dispatcher() const { return m_dispatcher; }
    CLinkChannel* Channel() const { return m_channel.get(); }
    CLinkProtocol* Protocol() const { return m_protocol.get(); }

private:
    int StartSession(CRequestFrontEnd* frontEnd);
    void WorkerMain();
    void RunJob(std::uint8_t job);
    void RunDownload(bool staged);
    void Finish(unsigned result, std::int32_t fileIndex);
    void ClearJob();
    bool OpenDownloadFile(std::int32_t& fileIndex);
    bool ReadBlock(std::uint32_t sentBytes, std::uint32_t& count, std::int32_t& fileIndex);
    void CloseDownloadFile();
    // After a burn of the boot or program area: the target's version of it, asked the
    // way the firmware page asks, told to the front end. requestWaiting: a request was
    // accepted before the burn ended, and runs after the read-back.
    void ReadBackVersion(std::uint8_t kind, bool requestWaiting);
    // Ends the read-back at once (its version then unread) and returns once it has ended;
    // nothing when none runs. Owner's thread.
    void EndReadBack();
    void ParkReceiver();
    void UnparkReceiver();

    std::atomic<EngineState> m_state{StateNotOpened};
    CRequestFrontEnd* m_frontEnd = nullptr;
    IPacketDriver* m_driver = nullptr;
    CLinkDispatcher* m_dispatcher = nullptr;
    std::unique_ptr<CLinkDispatcher> m_ownDispatcher;   // a session on its own
    std::unique_ptr<CLinkProtocol> m_protocol;
    std::unique_ptr<CLinkChannel> m_channel;
    LinkTimeouts m_timeouts;

    std::atomic<std::uint8_t> m_job{JobNone};
    // From a download's acceptance to its last stage report (the job itself ends with the
    // transfer; the erase and burn follow it).
    std::atomic<bool> m_downloadRunning{false};
    CAutoResetEvent m_jobEvent;
    // The job accepted and not yet taken up (under the lock), and the one the worker runs:
    // its job, its area (kind), its file, its answer buffer, the target a listen is for.
    // The worker's own: a request accepted while a staged download still erases and
    // burns must not change it.
    std::mutex m_requestLock;
    FdpRequest m_pending;
    FdpRequest m_running;

    int m_file = -1;                // the download file's descriptor
    std::uint32_t m_fileLength = 0;
    std::uint32_t m_remaining = 0;
    std::int32_t m_fileIndex = 0;   // -1 while the file reads well, else its error index
    std::uint8_t m_block[kBlockDataLen] = {};

    // Whether the version is being read back after a burn (under its lock): a listen or a
    // new request must not wait for a target that restarts and may never answer.
    std::mutex m_readBackLock;
    std::condition_variable m_readBackEnded;
    bool m_readingBack = false;

    // The worker waits here for an adapter to be opened, or to stop.
    std::mutex m_stateLock;
    std::condition_variable m_stateChanged;
    std::atomic<bool> m_stopWorker{false};
    bool m_started = false;
    std::atomic<int> m_adapterIndex{-1};   // the adapter the front end was last told of
    std::thread m_worker;
};

}  // namespace fdp
