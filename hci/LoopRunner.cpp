#include "hci/LoopRunner.h"

#include <algorithm>
#include <charconv>
#include <new>
#include <vector>

#include "fdp/RequestFrontEnd.h"
#include "fdp/Frame.h"
#include "hci/DongleLink.h"
#include "resources/strings/StringIds.h"
#include "resources/strings/StringTable.h"

namespace hci {

using namespace res;

namespace {


constexpr std::uint8_t kTargetSends = 0x05;
constexpr std::uint8_t kDongleSends = 0x06;
constexpr std::uint32_t kConnectWaitMs = 4000;
constexpr std::uint32_t kTestModeWaitMs = 1000;
// How long a run waits beyond its sleep for the target's receive report to be complete.
constexpr std::uint32_t kReportGraceMs = 2000;

}  // namespace

const char* LoopSettingsProblem(const LoopSettings& settings) {
    // The texts name the same limits.
    if (settings.dataSize < kLoopSizeMin || settings.dataSize > kLoopSizeMax)
        return "Please input a number(1<=number<=1000) in DataSize Area!";
    if (settings.speed < kLoopSpeedMin || settings.speed > kLoopSpeedMax) return "Please input a number(10<=number<=80)in Speed Area!";
    return nullptr;
}

std::uint32_t CountLoopReport(std::span<const std::uint8_t> report) {
    std::uint32_t total = 0;
    std::size_t offset = 0;
    while (offset + 6 <= report.size() && report[offset] == 0x02 && report[offset + 5] == kDongleSends) {
        const std::size_t n = fdp::ReadLe16(report.data() + offset + 3);
        if (offset + 5 + n > report.size()) break;
        total += static_cast<std::uint32_t>(n);
        offset += n + 5;
    }
    return total;
}

std::string LostRateText(std::uint32_t sent, std::uint32_t counted) {
    const std::uint32_t lost = counted < sent ? sent - counted : 0;
    const double rate = sent ? static_cast<double>(lost) / sent * 100 : 0.0;
    // Six decimals as "%f" gives them, but always with a decimal point: the C library's
    // printf follows the locale the toolkit sets, which may want a comma.
    char number[64];
    const auto written = std::to_chars(number, number + sizeof number, rate, std::chars_format::fixed, 6);
    return ": " + std::string(number, written.ptr) + "%!\r\n";
}

CLoopRunner::CLoopRunner(fdp::ILoopRequests* front, CDongleLink& dongle, ReportFn report)
    : m_front(front), m_dongle(dongle), m_report(std::move(report)) {}

void CLoopRunner::Append(unsigned id) { m_report(LoadString(id)); }

bool CLoopRunner::WaitLinkIdle(std::uint32_t ms) {
    for (std::uint32_t waited = 0;; waited += 10) {
        if (!m_front || m_front->CurrentJob() == fdp::JobNone) return true;
        if (waited >= ms) return false;
        m_dongle.Sleep(10);
    }
}

bool CLoopRunner::DongleLost() {
    const std::string reason = m_dongle.LostReason();
    if (reason.empty()) return false;
    m_report(FormatString(IDS_DONGLE_LOST, {reason}));
    return true;
}

fdp::SharedBuffer CLoopRunner::WorkBuffer() {
    fdp::SharedBuffer buffer;
    try {
        buffer = m_bufferSource ? m_bufferSource(kLoopReceiveAreaLen) : fdp::MakeBuffer(kLoopReceiveAreaLen);
    } catch (const std::bad_alloc&) {
        buffer = nullptr;
    }
    if (!buffer || buffer->size() < kLoopReceiveAreaLen) {
        m_dongle.Message("Memory is not enough!");
        return nullptr;
    }
    return buffer;
}

fdp::SharedBuffer CLoopRunner::TargetTestModeBlock() {
    auto block = fdp::MakeBuffer(fdp::kTestBlockLen);
    const auto command = CommandPacket(OpEnableDeviceUnderTestMode);
    std::copy(command.begin(), command.end(), block->begin());
    return block;
}

bool CLoopRunner::Connect(const LoopSettings& settings, int& result) {
    m_dongle.Sleep(100);
    if (DongleLost()) return false;
    const BdAddr address = m_dongle.DongleAddress();
    if (address == BdAddr{}) {
        Append(IDS_READ_BDADDR_FAILED);
        return false;
    }
    auto block = fdp::MakeBuffer(fdp::kTestBlockLen);
    std::copy(address.begin(), address.end(), block->begin());
    (*block)[8] = static_cast<std::uint8_t>(settings.speed);
    fdp::WriteLe32(block->data() + 9, settings.dataSize);
    m_dongle.Sleep(200);
    // Armed before the target is asked to connect: the connection may complete before
    // the report line below is shown.
    m_dongle.ArmDongleEvent();
    result = m_front->StartLoopTest(block);
    Append(IDS_ESTABLISHING_ACL);
    if (!m_dongle.WaitDongleEvent(kConnectWaitMs)) {
        if (!DongleLost()) Append(IDS_ACL_TIMEOUT);
        return false;
    }
    return true;
}

fdp::SharedBuffer CLoopRunner::Establish(const LoopSettings& settings, int& result) {
    if (!m_front) return nullptr;
    auto work = WorkBuffer();
    if (!work || !Connect(settings, result)) return nullptr;
    std::fill_n(work->begin(), settings.dataSize, kTargetSends);
    Append(IDS_ACL_ESTABLISHED);
    m_dongle.Sleep(4000);
    if (DongleLost()) return nullptr;
    return work;
}

int CLoopRunner::RunTargetLoopTest(const LoopSettings& settings) {
    int result = 0;
    if (auto work = Establish(settings, result)) {
        m_dongle.ArmDongleEvent();   // the end marker may come before the wait below
        result = m_front->SendLoopData(work, settings.dataSize);
        m_dongle.Sleep(200);
        Append(IDS_TARGET_TO_DONGLE);
        m_dongle.WaitDongleEvent(settings.dataSize / std::max<std::uint32_t>(settings.speed, 1) + 1000);
        if (!DongleLost()) {
            const std::uint32_t counted = m_dongle.LoopReceivedBytes();
            m_report(LoadString(IDS_TARGET_LOST_RATE) + LostRateText(settings.dataSize, counted));
        }
    }
    m_dongle.ResetLoopReceivedBytes();
    return result;
}

int CLoopRunner::RunDongleLoopTest(const LoopSettings& settings) {
    int result = 0;
    // The target's receive report gets a fresh area, held by the link until it is
    // done. Taken first: a run that could not count what arrived must not start.
    auto report = m_front ? WorkBuffer() : nullptr;
    if (auto work = report ? Establish(settings, result) : nullptr) {
        m_dongle.Sleep(settings.dataSize / 100 + 500);
        Append(IDS_DONGLE_TO_TARGET);
        result = m_front->ReceiveLoopData(report, static_cast<std::uint32_t>(kLoopReceiveAreaLen));
        m_dongle.Sleep(100);
        std::fill_n(work->begin(), settings.dataSize, kDongleSends);
        auto acl = NewHciPacket(105);
        if (!acl) {
            m_dongle.Message("No enough memory!");
        } else {
            const std::uint32_t pause = 100 / std::max<std::uint32_t>(settings.speed, 1);
            for (std::uint32_t sent = 0; sent < settings.dataSize && !m_dongle.Lost();) {
                const std::uint32_t n = std::min<std::uint32_t>(settings.dataSize - sent, kMaxAclChunk);
                m_dongle.SendAcl(*acl, std::span(work->data() + sent, n));
                sent += n;
                m_dongle.Sleep(pause);
            }
            acl.reset();
            m_dongle.Sleep(settings.dataSize / 500 + 500);
            if (!DongleLost()) {
                // The report is read only once the link has finished writing it.
                const std::uint32_t counted = WaitLinkIdle(kReportGraceMs) ? CountLoopReport(*report) : 0;
                m_report(LoadString(IDS_DONGLE_LOST_RATE) + LostRateText(settings.dataSize, counted));
            }
        }
    }
    m_dongle.ResetLoopReceivedBytes();
    return result;
}

bool CLoopRunner::RunDongleTestMode() {
    const bool ok = m_dongle.EnableDongleTestMode();
    if (!ok && DongleLost()) return false;
    Append(ok ? IDS_DONGLE_TEST_MODE_OK : IDS_DONGLE_TEST_MODE_FAILED);
    return ok;
}

bool CLoopRunner::RunTargetTestMode() {
    auto block = TargetTestModeBlock();
    const bool accepted = m_front && m_front->EnableTargetTestMode(block) == 0;
    // The answer is read only when the link has finished with the block.
    const bool ok = accepted && WaitLinkIdle(kTestModeWaitMs) && (*block)[0] == 0;
    Append(ok ? IDS_TARGET_TEST_MODE_OK : IDS_TARGET_TEST_MODE_FAILED);
    return ok;
}

}  // namespace hci
