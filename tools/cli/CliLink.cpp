#include "tools/cli/CliLink.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "fdp/LinkTexts.h"
#include "fdp/FormatBdAddr.h"
#include "fdp/LinkChannel.h"
#include "fdp/LinkDispatcher.h"
#include "resources/strings/StringIds.h"
#include "resources/strings/StringTable.h"
#include "tools/cli/ExitCodes.h"
#include "tools/cli/Interrupt.h"
#include "tools/cli/TargetsCommand.h"
#include "tools/cli/Say.h"

using namespace fdp;
using namespace std::chrono_literals;

namespace cli {

namespace {

const char* ConnectText(unsigned result) {
    switch (result) {
    case ConnectOk: return "Connected with:";
    case ConnectTimeout: return "Connect Timeout";
    default: return "Connect Failed";
    }
}

}  // namespace

// Ctrl-C or SIGTERM during a run: the link stops when the operation returns (the
// engine's stop ends its waits and nothing more is sent).
// On a production line the line interrupts every run's link through its seat.
CCliLink::CCliLink(CliRun& run) : m_run(run), m_front(run.options.progress, m_link), m_hookEnd{run.seat} {
    m_link.SetSink(&m_front);
    m_link.SetPaceMs(run.options.paceMs);
    if (ILineSeat* seat = run.seat) {
        m_driver = &seat->Dispatcher().Driver();
        m_link.ShareFiles(seat->Files());
        m_front.SetWatcher([seat](const LinkEvent& event) { seat->OnEvent(event); });
        seat->LinkMade(&m_front);
    } else {
        m_driver = &m_ownDriver.emplace(run.broker);
        CInterrupt::SetHook([this] { m_front.Interrupt(); });
    }
}

CCliLink::HookEnd::~HookEnd() {
    if (seat) seat->LinkMade(nullptr);
    else CInterrupt::SetHook({});
}

// Every way out of the run reports the other targets heard meanwhile. A target that
// announced before the login was heard by the link itself: it listens before it logs in.
CCliLink::~CCliLink() {
    m_engine.Stop();   // before the seat lets go of the front, which the session's events reach
    // On a production line the others heard are the line's own targets.
    if (!m_started || m_run.seat) return;
    std::vector<std::pair<std::string, std::string>> others;
    for (const auto& other : m_link.OtherTargets()) others.emplace_back(FormatBdAddr(other.address), other.adapter);
    m_run.report.SetOtherTargets(std::move(others));
}

std::optional<int> CCliLink::Connect(const std::string& folder, std::uint8_t kind) {
    const CliOptions& options = m_run.options;
    m_link.SetProgramFolder(folder);
    if (!m_link.StartLink()) {
        Complain("Cannot create trace.txt and Target_Bt_Addr.txt in %s\n", m_link.ProgramFolder().c_str());
        return ExitFiles;
    }
    if (!options.interface.empty() && m_ownDriver) m_ownDriver->SetInterfaceFilter(options.interface);
    if (options.flashWaitMs) {
        LinkTimeouts waits;
        waits.flashShort = waits.flashLong = options.flashWaitMs;
        m_engine.SetTimeouts(waits);
    }
    m_front.SetTimeouts(m_engine.Timeouts());
    if (m_run.seat) m_engine.Start(m_run.seat->Dispatcher(), &m_link);
    else m_engine.Start(m_driver, &m_link);
    if (m_run.served) m_engine.Channel()->SetIgnoredTargets(*m_run.served);
    if (options.target) m_engine.Channel()->SetChosenTarget(*options.target, m_run.seat != nullptr);
    m_started = true;
    m_link.SetLink(&m_engine, m_driver);

    const int opened = m_run.seat ? m_link.JoinOpenAdapter() : m_link.OpenFirstAdapter();
    if (opened < 0) {
        Complain("%s\n", m_link.NoAdapterMessage("\n").c_str());
        return ExitNoAdapter;
    }
    Say("Adapter: %s\n", m_engine.GetAdapterDescription(opened).c_str());
    m_run.report.SetAdapter(m_engine.GetAdapterDescription(opened));

    m_link.SetPassword(options.password);
    if (m_link.Listen() != 0) {
        Say("%s\n", m_link.resultText().c_str());
        return ExitConnect + int{ConnectAborted};
    }
    Say("%s\n", m_link.resultText().c_str());
    const auto& timeouts = m_engine.Timeouts();
    // The first announce, the hear-out, perhaps the next announce on the adapter the one
    // target was heard on, the login; the engine's own waits end first.
    const auto connected = m_front.WaitConnect(
        std::chrono::milliseconds(2 * timeouts.listen + timeouts.hearOut + timeouts.login) + 2s);
    if (m_front.Interrupted()) return StopInterrupted(Stopped::Listening, kind);
    if (!connected.several.empty()) return SeveralTargets(connected.several);
    const unsigned connect = connected.result.value_or(unsigned{ConnectTimeout});
    const MacAddress address = m_link.TargetAddress();
    char addressText[18];
    std::snprintf(addressText, sizeof addressText, "%02x:%02x:%02x:%02x:%02x:%02x", address[0], address[1], address[2],
                  address[3], address[4], address[5]);
    // A target that announced and refused the login is served too: --repeat does not
    // try a wrong password on it again each time it announces.
    if (connect != ConnectTimeout && connect != ConnectAborted) {
        m_run.report.SetTarget(addressText);
        if (m_run.served) m_run.served->push_back(address);
    }
    if (connect != ConnectOk) {
        Say("%s\n", ConnectText(connect));
        m_run.report.SetOutcome("login", ConnectText(connect), connect);
        return ExitConnect + static_cast<int>(connect);
    }
    Say("%s %s\n", ConnectText(connect), addressText);
    Say(res::Text("Adapter in use: %s, target %s\n").c_str(), m_link.AdapterName().c_str(), addressText);
    // The target may have answered on another adapter than the one opened first.
    m_run.report.SetAdapter(m_engine.GetAdapterDescription(m_link.AdapterIndex()));
    return std::nullopt;
}

int CCliLink::SeveralTargets(const std::vector<HeardTarget>& targets) {
    const auto now = std::chrono::steady_clock::now();
    for (const HeardTarget& target : targets) Complain("%s\n", HeardTargetLine(target, now).c_str());
    // The same address on two adapters is no choice --target can make.
    for (auto it = targets.begin(); it != targets.end(); ++it) {
        const auto same = [&](const HeardTarget& other) { return other.address == it->address; };
        if (std::find_if(targets.begin(), it, same) == it && std::find_if(it + 1, targets.end(), same) != targets.end())
            Complain("%s\n",
                         res::FormatString(res::IDS_TARGET_ON_SEVERAL_ADAPTERS, {FormatBdAddr(it->address)}).c_str());
    }
    const std::string text = res::LoadString(res::IDS_SEVERAL_TARGETS);
    Complain("%s\n", text.c_str());
    m_run.report.SetHeardTargets(targets, now);
    m_run.report.SetOutcome("login", text);
    return ExitSeveralTargets;
}

void CCliLink::RecordOutcome(std::optional<Stage> stage, unsigned code) {
    // An adapter that went away is told as the report line tells it: by name, with what
    // the target was left doing.
    const Stage ended{stage ? stage->step : Stage::Transfer, Stage::Ended};
    m_run.report.SetOutcome(CRunReport::StageWord(stage),
                            m_link.AdapterLostText(stage, code).value_or(StageText(ended) + ResultText(code)),
                            code);
}

int CCliLink::StopInterrupted(Stopped during, std::uint8_t kind) {
    const std::optional<Stage> stage = m_front.LastStage();
    const std::string step = during == Stopped::Erase ? "erase"
                             : !stage                 ? "transfer"
                                                      : CRunReport::StageWord(stage);
    const std::string state = StoppedText(during, step, kind);
    Complain("%s\n", res::FormatString(res::IDS_INTERRUPTED_LINE, {state}).c_str());
    m_run.report.SetOutcome(step, res::FormatString(res::IDS_INTERRUPTED_RESULT, {state}), FdpCancelled);
    return 128 + CInterrupt::Signal();
}

// A target status without a message of its own ends the wait as soon as the job ends.
// The engine's own wait ends first; the margin only guards against a link that never
// answers at all.
unsigned CCliLink::WaitOutcome(std::uint8_t job, std::uint32_t linkWaitMs) {
    return m_front.WaitJobEnd(job, std::chrono::milliseconds(linkWaitMs) + 2s).value_or(unsigned{FdpTimeout});
}

unsigned CCliLink::RunTransfer(int submitted) {
    if (submitted != 0) {
        Say("%s\n", m_link.resultText().c_str());
        return FdpBusy;
    }
    const unsigned code = WaitOutcome(JobTransfer, m_engine.Timeouts().transfer);
    if (code != 0)
        Say("%s%s\n", StageText({Stage::Transfer, Stage::Ended}).c_str(), ResultText(code).c_str());
    return code;
}

}  // namespace cli
