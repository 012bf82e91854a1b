// The loop test's runs: data from the target to the dongle, data from the dongle to the
// target, and the two test modes. Each appends its report lines through the report
// handler (which also shows them) and returns when the run has ended. They run on the
// user-interface thread and wait through the dongle link, whose idle handler keeps the
// window painting. A dongle lost during a run ends it at once with a report line that
// says why; a run that cannot have its buffers stops with "Memory is not enough!" and
// reports no lost rate.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "fdp/FdpTypes.h"

#include "fdp/LoopRequests.h"

namespace hci {

class CDongleLink;

// What a run accepts; the page's and the command line's checks both hold to these.
inline constexpr std::uint32_t kLoopSizeMin = 1, kLoopSizeMax = 1000;   // bytes
inline constexpr std::uint32_t kLoopSpeedMin = 10, kLoopSpeedMax = 80;  // KBytes/s

struct LoopSettings {
    std::uint32_t dataSize = kLoopSizeMin;   // bytes
    std::uint32_t speed = kLoopSpeedMin;     // KBytes/s = bytes per millisecond
};

// The message for settings the loop test cannot run with (the page's and the command
// line's checks), nothing when they are good.
const char* LoopSettingsProblem(const LoopSettings& settings);

// Bytes of the target's receive report that count: the leading records (0x02, handle,
// length n, n data bytes) whose first data byte is 0x06, each lying wholly in report.
std::uint32_t CountLoopReport(std::span<const std::uint8_t> report);

// The lost-rate line's number part: ": %f" of lost / sent x 100, then "%!\r\n". More
// bytes counted than sent lose nothing.
std::string LostRateText(std::uint32_t sent, std::uint32_t counted);

class CLoopRunner {
public:
    using ReportFn = std::function<void(const std::string&)>;
    // Gives a run its buffers of the receive area's size; null when memory is short.
    using BufferSource = std::function<fdp::SharedBuffer(std::size_t size)>;

    // front: the requests to the target over the open link; may be null for the dongle
    // test mode alone, which needs no target. dongle: opened and started.
    CLoopRunner(fdp::ILoopRequests* front, CDongleLink& dongle, ReportFn report);

    // Both return the result of the last front-end request they made, 0 when none.
    int RunTargetLoopTest(const LoopSettings& settings);
    int RunDongleLoopTest(const LoopSettings& settings);
    // Report 57744 or 57745; true when the dongle confirmed test mode.
    bool RunDongleTestMode();
    // Report 57761 or 57762; true when the target confirmed test mode.
    bool RunTargetTestMode();

    // Where the runs take their buffers from (fdp::MakeBuffer unless set).
    void SetBufferSource(BufferSource source) { m_bufferSource = std::move(source); }

    // The test-mode block handed to the target: Enable_Device_Under_Test_Mode, which
    // the target passes to its Bluetooth module.
    static fdp::SharedBuffer TargetTestModeBlock();

private:
    void Append(unsigned id);
    // Appends why the dongle was lost, when it was: the run ends there.
    bool DongleLost();
    // Waits, bounded, until the link has finished its request, so that its answer can
    // be read; false when it had not finished.
    bool WaitLinkIdle(std::uint32_t ms);
    fdp::SharedBuffer WorkBuffer();
    // Steps 1 to 5 of both runs; false when the run ends there.
    bool Connect(const LoopSettings& settings, int& result);
    // Steps 1 to 6 of both runs: the work buffer, filled, once the ACL connection is up
    // and has settled; nothing when the run ends before.
    fdp::SharedBuffer Establish(const LoopSettings& settings, int& result);

    fdp::ILoopRequests* m_front;
    CDongleLink& m_dongle;
    ReportFn m_report;
    BufferSource m_bufferSource;
};

}  // namespace hci
