// The link of one kelvane-cli run: the adapter opened, a target logged in to, and the
// waits, outcomes and interruptions every operation on the target shares. Whichever way
// the run ends, the other targets heard meanwhile go into its report.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fdp/LinkSession.h"
#include "fdp/PacketSocketDriver.h"
#include "tools/cli/CliFrontEnd.h"
#include "tools/cli/CliRun.h"
#include "tools/cli/StoppedText.h"

namespace cli {

class CCliLink {
public:
    explicit CCliLink(CliRun& run);
    ~CCliLink();
    CCliLink(const CCliLink&) = delete;
    CCliLink& operator=(const CCliLink&) = delete;

    // Starts the link with its files in folder, opens the first adapter and logs in to a
    // target; nothing when logged in, else the exit code (said and reported): with several
    // targets answering, none is logged in to (9). kind: the flash area the operation is
    // about, named if it is interrupted.
    std::optional<int> Connect(const std::string& folder, std::uint8_t kind);

    // The requests to the target, and the sink that prints and waits for their ends.
    fdp::CRequestFrontEnd& Link() { return m_link; }
    CCliFrontEnd& Front() { return m_front; }
    fdp::CLinkSession& Engine() { return m_engine; }
    const fdp::LinkTimeouts& Timeouts() { return m_engine.Timeouts(); }

    // A link step's end as the report's outcome: its stage word and the wizard's words
    // (nothing: no stage was reported, the transfer's words stand).
    void RecordOutcome(std::optional<fdp::Stage> stage, unsigned code);
    // Says what the target was left doing, which matters most in the middle of a
    // download, and returns the exit code of the signal.
    int StopInterrupted(Stopped during, std::uint8_t kind);
    // The result of a submitted job as the engine got it.
    unsigned WaitOutcome(std::uint8_t job, std::uint32_t linkWaitMs);
    // Waits for a transfer's answer; the whole answer may take the link's transfer time.
    unsigned RunTransfer(int submitted);

private:
    // Lists the targets heard on standard error and in the report; the exit code.
    int SeveralTargets(const std::vector<fdp::HeardTarget>& targets);

    CliRun& m_run;
    fdp::CRequestFrontEnd m_link;
    CCliFrontEnd m_front;
    struct HookEnd {
        ILineSeat* seat;
        ~HookEnd();
    } m_hookEnd;   // cleared before m_front goes
    // A run of its own has a driver of its own; on a production line the line's is used.
    std::optional<fdp::CPacketSocketDriver> m_ownDriver;
    fdp::IPacketDriver* m_driver = nullptr;
    fdp::CLinkSession m_engine;
    bool m_started = false;     // the link's files were made: the other targets are reported
};

}  // namespace cli
