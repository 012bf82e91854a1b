// What a link session tells its owner, as values: one stream of typed events, handed to
// the one sink the owner gives the session. The window turns them into what its pages
// show, the command-line tool prints them, the benchmark times them.
//
// Threads: events are published on the session's worker thread (stage reports, job ends,
// the version after a burn, the targets a listen heard), on the receiver thread (adapter
// moved or lost, another target, notices) or on the thread that made a request
// (accepted, warnings). A sink never blocks the link: it copies what it needs and hands
// it on to its own thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "fdp/FdpTypes.h"
#include "fdp/FirmwareVersion.h"
#include "fdp/HeardTarget.h"
#include "fdp/Stage.h"

namespace fdp {

// A step of a download began, runs or ended. While the file is transferred it comes once
// a block with the position reached (of total). text is the status line it sets, in the
// user's language (the stopped text for a failure, the adapter-lost words when the
// adapter went).
struct StageReport {
    Stage stage;
    unsigned result = 0;
    std::uint32_t position = 0;
    std::uint32_t total = 0;
    std::string text;
};

// How a job's request ended: the job's code, its result (a ConnectResult for a listen, an
// FdpResult or a target's status byte otherwise), and for a file that could not be read
// the file error (a FileErrorIndex), else the request's kind.
struct JobEnded {
    std::uint8_t job = JobNone;
    unsigned result = 0;
    std::int32_t detail = 0;
};

// A request was accepted; made before its first report can be.
struct RequestAccepted {
    std::uint8_t job = JobNone;
};

// The target announced on another candidate adapter, which the link uses from now on.
struct AdapterMoved {
    int index = -1;
    std::string adapter;
};

// The adapter in use was deleted while logged in: what waits on the target ends at once.
struct AdapterLost {
    std::string adapter;
};

// Another target announced while this session logged in or was logged in.
struct OtherTargetHeard {
    MacAddress address{};
    std::string adapter;
};

// The listen heard several targets and logged in to none: the user chooses one.
struct SeveralTargetsHeard {
    std::vector<HeardTarget> targets;
};

// After a successful burn of the boot or program area (kind), the version the target
// now reports for it; nothing when it did not answer.
struct VersionAfterBurn {
    std::uint8_t kind = 0;
    std::optional<FirmwareVersion> version;
};

// Something the user should hear of that is no failure (an announce ignored).
struct LinkNotice {
    std::string text;
};

// A message the system shows in a message box.
struct LinkWarning {
    std::string text;
};

using LinkEvent = std::variant<StageReport, JobEnded, RequestAccepted, AdapterMoved, AdapterLost, OtherTargetHeard,
                               SeveralTargetsHeard, VersionAfterBurn, LinkNotice, LinkWarning>;

class ILinkEventSink {
public:
    virtual void OnLinkEvent(const LinkEvent& event) = 0;

protected:
    ~ILinkEventSink() = default;
};

}  // namespace fdp
