// What the front end asks of the engine: the adapters, listening, the jobs. The engine
// implements it; the front end (and the loop runs that wait for the link to be idle)
// hold it and never include the engine. Calls on the thread that owns the engine, but
// CurrentJob and DownloadRunning, which any thread may read.
#pragma once

#include <cstdint>

#include "fdp/FdpTypes.h"

namespace fdp {

class ILinkRequests {
public:
    virtual ~ILinkRequests() = default;

    // The number of adapters found.
    virtual int EnumerateAdapters() = 0;
    // An OpenResult; on OpenOk the link listens on it (and the other candidates).
    virtual int OpenAdapter(std::uint16_t index) = 0;
    // Readies the link for a new listen: 0, or FdpNotOpened, FdpBusy, FdpInvalidOperation.
    virtual int PrepareListen() = 0;
    // Hands a job to the engine's worker: 0 accepted, 1 busy, 2 not connected (a listen
    // needs an open adapter only), or FdpInvalidOperation for an unknown job.
    virtual int Submit(const FdpRequest& request) = 0;
    // The job the worker runs or is about to run; JobNone when idle.
    virtual std::uint8_t CurrentJob() const = 0;
    // A download runs: from its acceptance until its last stage report is made (its
    // erase and burn included, the version read back after it not). Any thread.
    virtual bool DownloadRunning() const = 0;
};

}  // namespace fdp
