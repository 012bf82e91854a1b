// What the front end asks of the engine: the adapters, listening, the jobs. The engine
// implements it; the front end (and the loop runs that wait for the link to be idle)
// hold it and never include the engine. Calls on the thread that owns the engine, but
// CurrentJob and DownloadRunning, which any thread may read.
#pragma once

#include <cstdint>

#include "fdp/FdpTypes.h"

namespace fdp {

// What Submit answers. Not connected and an unknown job differ: the user is told of the
// first, the second is the caller's own mistake.
enum SubmitResult : int {
    SubmitAccepted = 0,
    SubmitBusy = 1,
    SubmitNotConnected = 2,   // a listen needs an open adapter only
    SubmitUnknownJob = 3,
};

class ILinkRequests {
public:
    virtual ~ILinkRequests() = default;

    // The number of adapters found.
    virtual int EnumerateAdapters() = 0;
    // An OpenResult; on OpenOk the link listens on it (and the other candidates).
    virtual int OpenAdapter(std::uint16_t index) = 0;
    // Readies the link for a new listen: 0, or FdpNotOpened, FdpBusy, FdpInvalidOperation.
    // It ends the version read back after a burn at once.
    virtual int PrepareListen() = 0;
    // Hands a job to the engine's worker: a SubmitResult. A new request ends the version
    // read back after a burn at once.
    virtual int Submit(const FdpRequest& request) = 0;
    // The job the worker runs or is about to run; JobNone when idle.
    virtual std::uint8_t CurrentJob() const = 0;
    // A download runs: from its acceptance until its last stage report is made (its
    // erase and burn included, the version read back after it not). Any thread.
    virtual bool DownloadRunning() const = 0;
};

}  // namespace fdp
