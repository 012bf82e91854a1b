// One target on a production line: its row in the table, the thread that runs the
// operation for it (the single-target code, its texts kept in the seat's log), and what
// the run reported. The line starts, interrupts and finishes it on its own thread; the
// run's threads tell it the link's events.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "fdp/FrameCodec.h"
#include "tools/cli/CliFrontEnd.h"
#include "tools/cli/CliOptions.h"
#include "tools/cli/LineBoard.h"
#include "tools/cli/LineScout.h"
#include "tools/cli/LineSeat.h"
#include "tools/cli/RunReport.h"

namespace cli {

// What a seat needs of its line.
class ILineHost {
public:
    virtual fdp::CLinkDispatcher& Dispatcher() = 0;
    virtual fdp::CLinkFiles& Files() = 0;
    // A seat's run ended (the run's thread).
    virtual void SeatEnded() = 0;

protected:
    ~ILineHost() = default;
};

// One target on the line: its row, the thread that runs the operation for it, and what
// the run reported.
class CTargetSeat final : public ILineSeat {
public:
    CTargetSeat(ILineHost& line, const CliOptions& options, const CLineScout::Heard& heard);
    ~CTargetSeat() { Join(); }

    fdp::CLinkDispatcher& Dispatcher() override;
    fdp::CLinkFiles& Files() override;
    void LinkMade(CCliFrontEnd* front) override {
        std::lock_guard lock(m_lock);
        m_front = front;
        if (m_front && m_interrupted) m_front->Interrupt();
    }
    void OnEvent(const fdp::LinkEvent& event) override;
    void AlreadyHas(const std::string& version) override {
        std::lock_guard lock(m_lock);
        m_alreadyHas = version;
    }

    const fdp::MacAddress& Address() const { return m_address; }
    void Start();
    void Interrupt() {
        std::lock_guard lock(m_lock);
        m_interrupted = true;
        if (m_front) m_front->Interrupt();
    }
    bool Ended() const { return m_ended; }
    void Requeue() {
        std::lock_guard lock(m_lock);
        m_row.state = LineRow::State::Waiting;
    }
    void Join() {
        if (m_thread.joinable()) m_thread.join();
    }
    LineRow Row() const {
        std::lock_guard lock(m_lock);
        LineRow row = m_row;
        if (row.state == LineRow::State::Running) row.elapsed = std::chrono::steady_clock::now() - m_started;
        return row;
    }
    LineRow::State State() const { return Row().state; }
    // After the run's end: its exit code, and its row brought to its outcome.
    int Finish(const std::optional<std::string>& fileVersion);
    const CRunReport& Report() const { return m_report; }
    // Served and burnt, but the target did not report the file's version after it: it is
    // served again when it comes back.
    bool Recheck() const { return m_recheck; }
    unsigned Rounds() const { return m_rounds; }

private:
    void Run();

    ILineHost& m_line;
    CliOptions m_options;   // the line's, with this target's words
    fdp::MacAddress m_address;
    mutable std::mutex m_lock;   // what the run's threads and the line's share: below
    LineRow m_row;
    CCliFrontEnd* m_front = nullptr;
    bool m_interrupted = false;
    std::optional<std::string> m_alreadyHas;
    std::chrono::steady_clock::time_point m_started;

    CRunReport m_report;   // the run's thread until Ended
    std::string m_log;     // the run's own texts, which the table replaces
    int m_code = 0;
    std::atomic<bool> m_ended{false};
    bool m_recheck = false;
    unsigned m_rounds = 0;
    std::thread m_thread;
};

}  // namespace cli
