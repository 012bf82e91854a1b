#include "fdp/RequestFrontEnd.h"

#include <algorithm>
#include <cerrno>
#include <iostream>
#include <thread>

#include <sys/prctl.h>
#include <time.h>

#include "fdp/FormatBdAddr.h"
#include "fdp/LinkRequests.h"
#include "fdp/LinkTexts.h"
#include "fdp/PacketDriver.h"
#include "resources/strings/StringIds.h"
#include "resources/strings/StringTable.h"

namespace fdp {

using namespace res;

CRequestFrontEnd::CRequestFrontEnd() = default;

CRequestFrontEnd::~CRequestFrontEnd() { CRequestFrontEnd::ShutdownLink(); }

// A parameter dump puts the target's login password in the trace: the files are the
// user's alone.
int CRequestFrontEnd::StartLink() { return m_sharedFiles || m_files.Open(m_programFolder) ? 1 : 0; }

void CRequestFrontEnd::ShutdownLink() { m_files.Close(); }

// Each event changes what the front end keeps before its owner hears of it, so that the
// owner, on hearing, reads the texts and lists as they now are.
void CRequestFrontEnd::Publish(LinkEvent event) {
    if (auto* report = std::get_if<StageReport>(&event)) {
        report->text = TakeReport(report->stage, report->result);
    } else if (auto* moved = std::get_if<AdapterMoved>(&event)) {
        m_adapterIndex = moved->index;
        moved->adapter = AdapterName();
    } else if (auto* lost = std::get_if<AdapterLost>(&event)) {
        std::lock_guard lock(m_lostLock);
        m_lostAdapter = lost->adapter;
    } else if (auto* other = std::get_if<OtherTargetHeard>(&event)) {
        other->adapter = AdapterName();
        NoteOtherTarget(other->address, other->adapter);
    } else if (const auto* several = std::get_if<SeveralTargetsHeard>(&event)) {
        std::lock_guard lock(m_otherLock);
        m_severalTargets = several->targets;
    } else if (const auto* after = std::get_if<VersionAfterBurn>(&event)) {
        m_recorder.OnVersionAfter(after->version);
    } else if (const auto* notice = std::get_if<LinkNotice>(&event)) {
        SetStatusText(notice->text);
    } else if (const auto* warning = std::get_if<LinkWarning>(&event); warning && !m_sink) {
        std::cerr << warning->text << '\n';
    }
    if (m_sink) m_sink->OnLinkEvent(event);
}

void CRequestFrontEnd::NoteOtherTarget(const MacAddress& address, const std::string& adapter) {
    std::lock_guard lock(m_otherLock);
    for (OtherTarget& known : m_otherTargets)
        if (known.address == address) {
            known.adapter = adapter;
            return;
        }
    m_otherTargets.push_back({address, adapter});
}

std::vector<CRequestFrontEnd::OtherTarget> CRequestFrontEnd::OtherTargets() const {
    std::lock_guard lock(m_otherLock);
    return m_otherTargets;
}

std::vector<HeardTarget> CRequestFrontEnd::SeveralTargets() const {
    std::lock_guard lock(m_otherLock);
    return m_severalTargets;
}

// A relative sleep at the default timer slack (50 us) wakes late every time, and a 2 MB
// update pauses 1,976 times: the pause sleeps to its deadline, and the thread that paces
// asks the kernel for the least slack once.
void CRequestFrontEnd::Pace() const {
    const unsigned ms = m_paceMs;
    if (ms == 0) return;
    thread_local bool leastSlack = false;
    if (!leastSlack) leastSlack = ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
    timespec deadline{};
    ::clock_gettime(CLOCK_MONOTONIC, &deadline);
    const long long nanoseconds = deadline.tv_nsec + static_cast<long long>(ms) * 1'000'000;
    deadline.tv_sec += static_cast<time_t>(nanoseconds / 1'000'000'000);
    deadline.tv_nsec = static_cast<long>(nanoseconds % 1'000'000'000);
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

std::optional<std::string> CRequestFrontEnd::AdapterLostText(std::optional<Stage> stage, unsigned result) const {
    if (result != FdpNotOpened) return std::nullopt;
    std::string adapter;
    {
        std::lock_guard lock(m_lostLock);
        adapter = m_lostAdapter;
    }
    if (adapter.empty()) return std::nullopt;
    return fdp::AdapterLostText(adapter, stage);
}

int CRequestFrontEnd::OpenFirstAdapter() {
    const int count = m_engine ? m_engine->EnumerateAdapters() : 0;
    int opened = -1;
    for (int index = 0; index < count && opened < 0; ++index)
        if (m_engine->OpenAdapter(static_cast<std::uint16_t>(index)) == OpenOk) opened = index;
    SetAdapter(opened, count, opened >= 0);
    return opened;
}

int CRequestFrontEnd::JoinOpenAdapter() {
    const int index = m_driver ? m_driver->OpenIndex() : -1;
    const bool joined = m_engine && index >= 0 && m_engine->OpenAdapter(static_cast<std::uint16_t>(index)) == OpenAlreadyOpen;
    SetAdapter(joined ? index : -1, m_adapterCount, joined);
    return joined ? index : -1;
}

std::string CRequestFrontEnd::NoAdapterMessage(const std::string& separator) const {
    std::string message = LoadString(IDS_OPEN_ADAPTER_FAILED);
    if (const std::string reason = m_driver ? m_driver->LastError() : std::string(); !reason.empty())
        message += separator + reason;
    return message;
}

std::string CRequestFrontEnd::AdapterName() const {
    const int index = m_adapterIndex;
    return m_driver && index >= 0 ? m_driver->GetAdapterName(index) : std::string();
}

void CRequestFrontEnd::GetCredentials(const MacAddress& target, PasswordBlock& block) {
    std::lock_guard lock(m_credentialLock);
    m_targetAddress = target;
    block = MakePasswordBlock(m_password);
}

void CRequestFrontEnd::SetPassword(const std::string& password) {
    std::lock_guard lock(m_credentialLock);
    m_password = password;
}

MacAddress CRequestFrontEnd::TargetAddress() const {
    std::lock_guard lock(m_credentialLock);
    return m_targetAddress;
}

void CRequestFrontEnd::OnTraceLength(std::uint32_t total) { Files().OnTraceLength(total); }

void CRequestFrontEnd::OnTraceData(const std::uint8_t* data, std::uint32_t length) { Files().OnTraceData(data, length); }

int CRequestFrontEnd::SaveParamDump(const std::uint8_t* image) {
    if (!image || image[kParamFormatOffset] != kParamFormat) {
        Publish(LinkWarning{"The target's param is null or the param is invalid!"});
        return 1;
    }
    Files().DumpParams(image, kParamImageLen);
    return 1;
}

int CRequestFrontEnd::WriteAddressLine(const std::uint8_t* bytes, std::uint8_t length) {
    return Files().WriteAddressLine(bytes, length) ? 1 : 0;
}

int CRequestFrontEnd::SubmitRequest(std::uint8_t job, std::uint8_t kind, const std::string& path, SharedBuffer buffer,
                           std::uint32_t size, unsigned okText, bool setText) {
    std::lock_guard lock(m_requestLock);
    FdpRequest request;
    request.job = job;
    request.kind = kind;
    request.path = path;
    if (buffer) size = std::min(size, static_cast<std::uint32_t>(buffer->size()));
    else size = 0;
    request.buffer = std::move(buffer);
    request.size = size;
    // The text lock is held across the submit: a job that runs at once must not have its
    // reports overwritten by the text that announces it.
    std::lock_guard text(m_textLock);
    const int result = m_engine ? m_engine->Submit(request) : 2;
    if (result == 0) Publish(RequestAccepted{job});
    if (setText)
        m_resultText = LoadString(result == 0 ? okText : result == 2 ? IDS_NOT_CONNECTED : IDS_LAST_NOT_COMPLETED);
    return result;
}

int CRequestFrontEnd::StartDownload(std::uint8_t kind, const std::string& path) {
    // Begun before the submit: a file that cannot be opened ends the job at once.
    m_recorder.Begin(kind, path, AdapterName(), FormatBdAddr(TargetAddress()));
    const int result = SubmitRequest(JobStagedDownload, kind, path, nullptr, 0, IDS_DOWNLOAD_COMMITTING, true);
    if (result != 0) m_recorder.Forget();
    return result;
}

int CRequestFrontEnd::Listen() { return StartListen(std::nullopt); }

int CRequestFrontEnd::LoginTo(const HeardTarget& target) { return StartListen(target); }

int CRequestFrontEnd::StartListen(std::optional<HeardTarget> target) {
    std::lock_guard lock(m_requestLock);
    if (!m_engine) {
        SetResultText(LoadString(IDS_INTERFACE_NOT_OPENED));
        return FdpNotOpened;
    }
    const int refused = m_engine->PrepareListen();
    if (refused) {
        SetResultText(LoadString(refused == FdpNotOpened               ? IDS_INTERFACE_NOT_OPENED
                                 : m_engine->CurrentJob() == JobListen ? IDS_LISTENING
                                                                       : IDS_SYSTEM_BUSY));
        return refused;
    }
    FdpRequest request;
    request.job = JobListen;
    request.target = std::move(target);
    const int result = m_engine->Submit(request);
    if (result == 0) {
        std::lock_guard others(m_otherLock);   // heard anew from this listen on
        m_otherTargets.clear();
        m_severalTargets.clear();
        std::lock_guard lost(m_lostLock);      // a new login, perhaps on the adapter plugged in again
        m_lostAdapter.clear();
    }
    if (result == 0) {
        SetResultText(LoadString(IDS_LISTENING));
    } else if (result == 2) {
        SetResultText(LoadString(IDS_NOT_CONNECTED));
    } else {
        switch (m_engine->CurrentJob()) {
        case JobDownloadBurn: SetResultText(LoadString(IDS_DOWNLOADING)); break;
        case JobErase: SetResultText(LoadString(IDS_DOWNLOADING_2)); break;
        case JobGetParams: SetResultText(LoadString(IDS_GETTING_PARAMS)); break;
        case JobTransfer: SetResultText(LoadString(IDS_DIAGNOSING)); break;
        default: SetResultText(std::string()); break;
        }
    }
    return result;
}

std::uint8_t CRequestFrontEnd::CurrentJob() const { return m_engine ? m_engine->CurrentJob() : std::uint8_t{JobNone}; }

bool CRequestFrontEnd::DownloadRunning() const { return m_engine && m_engine->DownloadRunning(); }

int CRequestFrontEnd::GetTrace(SharedBuffer buffer) {
    return SubmitRequest(JobGetTrace, 0, {}, std::move(buffer), kParamImageLen, IDS_GETTING_TRACE, true);
}
int CRequestFrontEnd::EnableTargetTestMode(SharedBuffer block) {
    return SubmitRequest(JobTransfer, TransferTestMode, {}, std::move(block), kTestBlockLen, IDS_LOOP_TESTING, true);
}
int CRequestFrontEnd::StartLoopTest(SharedBuffer block) {
    return SubmitRequest(JobTransfer, TransferLoopSetup, {}, std::move(block), kTestBlockLen, IDS_LOOP_TESTING, true);
}
int CRequestFrontEnd::SendLoopData(SharedBuffer buffer, std::uint32_t size) {
    return SubmitRequest(JobTransfer, TransferLoopSend, {}, std::move(buffer), size, IDS_LOOP_TESTING, true);
}
int CRequestFrontEnd::ReceiveLoopData(SharedBuffer buffer, std::uint32_t size) {
    return SubmitRequest(JobTransfer, TransferLoopReceive, {}, std::move(buffer), size, IDS_LOOP_TESTING, true);
}
int CRequestFrontEnd::DiagnoseTarget(SharedBuffer block) {
    return SubmitRequest(JobTransfer, TransferDiagnose, {}, std::move(block), kTestBlockLen, IDS_DIAGNOSING, true);
}
int CRequestFrontEnd::GetParams(SharedBuffer buffer) {
    return SubmitRequest(JobGetParams, 0, {}, std::move(buffer), kParamImageLen, IDS_GETTING_PARAMS, true);
}
int CRequestFrontEnd::GetTargetVersion(SharedBuffer block) {
    return SubmitRequest(JobTransfer, TransferVersion, {}, std::move(block), kVersionBlockLen, 0, false);
}

std::string CRequestFrontEnd::TakeReport(Stage stage, unsigned result) {
    m_recorder.OnReport();
    const std::optional<std::string> lost = AdapterLostText(stage, result);
    if (stage.EndsDownload(result)) m_recorder.End(stage, result, lost.value_or(ResultText(result)));
    std::string text = lost.value_or(ReportStatusText(stage, result));
    std::lock_guard lock(m_textLock);
    m_statusText = text;
    m_resultText = LoadString(result != 0 ? IDS_OPERATION_FAILED : IDS_OPERATION_OK);
    return text;
}

std::string CRequestFrontEnd::statusText() const {
    std::lock_guard lock(m_textLock);
    return m_statusText;
}
std::string CRequestFrontEnd::resultText() const {
    std::lock_guard lock(m_textLock);
    return m_resultText;
}
void CRequestFrontEnd::SetStatusText(const std::string& text) {
    std::lock_guard lock(m_textLock);
    m_statusText = text;
}
void CRequestFrontEnd::SetResultText(const std::string& text) {
    std::lock_guard lock(m_textLock);
    m_resultText = text;
}

}  // namespace fdp
