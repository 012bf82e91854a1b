// The requests a loop test run makes of the link to the target, and whether the link
// has finished the last one. The request front end implements it; the loop runner holds
// it (a test plays the target behind it). Calls on the thread that makes the requests.
#pragma once

#include <cstdint>

#include "fdp/FdpTypes.h"

namespace fdp {

class ILoopRequests {
public:
    virtual int EnableTargetTestMode(SharedBuffer block) = 0;
    virtual int StartLoopTest(SharedBuffer block) = 0;
    virtual int SendLoopData(SharedBuffer buffer, std::uint32_t size) = 0;
    virtual int ReceiveLoopData(SharedBuffer buffer, std::uint32_t size) = 0;
    // The job the link runs or is about to run; JobNone when idle.
    virtual std::uint8_t CurrentJob() const = 0;

protected:
    ~ILoopRequests() = default;
};

}  // namespace fdp
