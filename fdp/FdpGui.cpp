#include "fdp/FdpGui.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <iterator>
#include <thread>

#include "fdp/DebugTrace.h"
#include "fdp/FirmwareVersion.h"
#include "fdp/FormatBdAddr.h"
#include "fdp/LinkRequests.h"
#include "fdp/PacketDriver.h"
#include "fdp/PrivateFile.h"
#include "fdp/Sha256.h"
#include "resources/strings/StringIds.h"
#include "resources/strings/StringTable.h"

namespace fdp {

using namespace res;

CFdpGui::CFdpGui() = default;

CFdpGui::~CFdpGui() { CFdpGui::ShutdownLink(); }

int CFdpGui::StartLink() {
    // No folder for the files: the link works, nothing is kept.
    if (m_programFolder.empty()) return 1;
    // A parameter dump puts the target's login password in the trace: both files are
    // the user's alone, and a link planted in their place is refused, not followed.
    const auto open = [this](const char* name, const char* mode) -> std::FILE* {
        CPrivateFile file = CPrivateFile::Open(m_programFolder + "/" + name, CPrivateFile::Mode::Truncate);
        if (!file.IsOpen()) {
            DebugTrace("%s\n", file.Error().c_str());
            return nullptr;
        }
        const int fd = file.Release();
        std::FILE* stream = ::fdopen(fd, mode);
        if (!stream) ::close(fd);
        return stream;
    };
    std::lock_guard lock(m_traceLock);
    m_traceFile = open("trace.txt", "w+b");
    if (!m_traceFile) return 0;
    m_addressFile = open("Target_Bt_Addr.txt", "wb");
    return m_addressFile ? 1 : 0;
}

void CFdpGui::ShutdownLink() {
    std::lock_guard lock(m_traceLock);
    for (std::FILE** file : {&m_traceFile, &m_addressFile}) {
        if (*file) std::fclose(*file);   // fclose flushes; an error abandons the file all the same
        *file = nullptr;
    }
}

// Each event changes what the front end keeps before its owner hears of it, so that the
// owner, on hearing, reads the texts and lists as they now are.
void CFdpGui::Publish(LinkEvent event) {
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
        RecordVersionAfter(after->version);
    } else if (const auto* notice = std::get_if<LinkNotice>(&event)) {
        SetStatusText(notice->text);
    } else if (const auto* warning = std::get_if<LinkWarning>(&event); warning && !m_sink) {
        std::cerr << warning->text << '\n';
    }
    if (m_sink) m_sink->OnLinkEvent(event);
}

void CFdpGui::NoteOtherTarget(const MacAddress& address, const std::string& adapter) {
    std::lock_guard lock(m_otherLock);
    for (OtherTarget& known : m_otherTargets)
        if (known.address == address) {
            known.adapter = adapter;
            return;
        }
    m_otherTargets.push_back({address, adapter});
}

std::vector<CFdpGui::OtherTarget> CFdpGui::OtherTargets() const {
    std::lock_guard lock(m_otherLock);
    return m_otherTargets;
}

std::vector<HeardTarget> CFdpGui::SeveralTargets() const {
    std::lock_guard lock(m_otherLock);
    return m_severalTargets;
}

void CFdpGui::Pace() const {
    if (const unsigned ms = m_paceMs; ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void CFdpGui::RecordVersionAfter(const std::optional<FirmwareVersion>& version) {
    std::lock_guard lock(m_historyLock);
    if (!m_download) return;
    m_download->versionAfter = version ? version->Text() : std::string(kVersionUnread);
    AppendHistoryLocked();
}

std::optional<std::string> CFdpGui::AdapterLostText(std::optional<Stage> stage, unsigned result) const {
    if (result != FdpNotOpened) return std::nullopt;
    std::string adapter;
    {
        std::lock_guard lock(m_lostLock);
        adapter = m_lostAdapter;
    }
    if (adapter.empty()) return std::nullopt;
    // What the target was left doing.
    std::string doing;
    if (stage && stage->IsFlashStep()) {
        const std::uint8_t kind = stage->Kind();
        const std::string area = LoadString(kind == KindBoot      ? IDS_AREA_BOOT
                                            : kind == KindProgram ? IDS_AREA_PROGRAM
                                                                  : IDS_AREA_PARAMETER);
        doing = FormatString(stage->IsBurn() ? IDS_LOST_DURING_BURN : IDS_LOST_DURING_ERASE, {area});
    } else if (stage && stage->step == Stage::Transfer) {
        doing = LoadString(IDS_LOST_DURING_TRANSFER);
    } else {
        doing = LoadString(IDS_LOST_DURING_REQUEST);
    }
    return FormatString(IDS_ADAPTER_LOST, {adapter, doing});
}

int CFdpGui::OpenFirstAdapter() {
    const int count = m_engine ? m_engine->EnumerateAdapters() : 0;
    int opened = -1;
    for (int index = 0; index < count && opened < 0; ++index)
        if (m_engine->OpenAdapter(static_cast<std::uint16_t>(index)) == OpenOk) opened = index;
    SetAdapter(opened, count, opened >= 0);
    return opened;
}

std::string CFdpGui::NoAdapterMessage(const std::string& separator) const {
    std::string message = LoadString(IDS_OPEN_ADAPTER_FAILED);
    if (const std::string reason = m_driver ? m_driver->LastError() : std::string(); !reason.empty())
        message += separator + reason;
    return message;
}

std::string CFdpGui::AdapterName() const {
    const int index = m_adapterIndex;
    return m_driver && index >= 0 ? m_driver->GetAdapterName(index) : std::string();
}

void CFdpGui::GetCredentials(const MacAddress& target, PasswordBlock& block) {
    std::lock_guard lock(m_credentialLock);
    m_targetAddress = target;
    block = MakePasswordBlock(m_password);
}

void CFdpGui::SetPassword(const std::string& password) {
    std::lock_guard lock(m_credentialLock);
    m_password = password;
}

MacAddress CFdpGui::TargetAddress() const {
    std::lock_guard lock(m_credentialLock);
    return m_targetAddress;
}

void CFdpGui::OnTraceLength(std::uint32_t total) {
    m_traceTotal = total;
    std::lock_guard lock(m_traceLock);
    m_traceRemaining = total;
}

void CFdpGui::OnTraceData(const std::uint8_t* data, std::uint32_t length) {
    std::lock_guard lock(m_traceLock);
    m_traceRemaining -= length;
    if (m_traceRemaining < 0 || !m_traceFile) return;
    if (std::fwrite(data, 1, length, m_traceFile) != length || std::fflush(m_traceFile) != 0) AbandonTraceFile();
}

void CFdpGui::AbandonTraceFile() {
    m_traceRemaining = 0;
    if (m_traceFile) std::fclose(m_traceFile);
    m_traceFile = nullptr;
}

int CFdpGui::SaveParamDump(const std::uint8_t* image) {
    if (!image || image[kParamFormatOffset] != kParamFormat) {
        Publish(LinkWarning{"The target's param is null or the param is invalid!"});
        return 1;
    }
    std::lock_guard lock(m_traceLock);
    if (!m_traceFile) return 1;
    if (std::fseek(m_traceFile, 0, SEEK_SET) != 0 ||
        std::fwrite(image, 1, kParamImageLen, m_traceFile) != kParamImageLen || std::fflush(m_traceFile) != 0)
        AbandonTraceFile();
    return 1;
}

int CFdpGui::WriteAddressLine(const std::uint8_t* bytes, std::uint8_t length) {
    std::lock_guard lock(m_traceLock);
    if (!m_addressFile) return 0;
    static const std::uint8_t kLineEnd[2] = {'\r', '\n'};
    if (std::fwrite(bytes, 1, length, m_addressFile) != length || std::fwrite(kLineEnd, 1, 2, m_addressFile) != 2 ||
        std::fflush(m_addressFile) != 0) {
        std::fclose(m_addressFile);
        m_addressFile = nullptr;
        return 0;
    }
    return 1;
}

int CFdpGui::SubmitRequest(std::uint8_t job, std::uint8_t kind, const std::string& path, SharedBuffer buffer,
                           std::uint32_t size, unsigned okText, bool setText) {
    std::lock_guard lock(m_requestLock);
    m_request = FdpRequest{};
    m_request.job = job;
    m_request.kind = kind;
    m_request.path = path;
    if (buffer) size = std::min(size, static_cast<std::uint32_t>(buffer->size()));
    else size = 0;
    m_request.buffer = std::move(buffer);
    m_request.size = size;
    // The text lock is held across the submit: a job that runs at once must not have its
    // reports overwritten by the text that announces it.
    std::lock_guard text(m_textLock);
    const int result = m_engine ? m_engine->Submit(m_request) : 2;
    m_request.buffer.reset();   // the engine holds its own reference
    if (result == 0) Publish(RequestAccepted{job});
    if (setText)
        m_resultText = LoadString(result == 0 ? okText : result == 2 ? IDS_NOT_CONNECTED : IDS_LAST_NOT_COMPLETED);
    return result;
}

int CFdpGui::StartDownload(std::uint8_t kind, const std::string& path) {
    // Begun before the submit: a file that cannot be opened ends the job at once.
    BeginHistory(kind, path);
    const int result = SubmitRequest(JobStagedDownload, kind, path, nullptr, 0, IDS_DOWNLOAD_COMMITTING, true);
    if (result != 0) {
        std::lock_guard lock(m_historyLock);
        m_download.reset();
    }
    return result;
}

void CFdpGui::SetHistoryTask(const std::string& task) {
    std::lock_guard lock(m_historyLock);
    m_historyTask = task;
}

void CFdpGui::SetHistoryFields(const std::string& fields) {
    std::lock_guard lock(m_historyLock);
    m_historyFields = fields;
}

void CFdpGui::SetHistoryFile(const std::string& path) {
    std::lock_guard lock(m_historyLock);
    m_historyFile = path;
}

void CFdpGui::SetTargetVersion(std::uint8_t kind, const std::string& version) {
    std::lock_guard lock(m_historyLock);
    if (kind < m_targetVersions.size()) m_targetVersions[kind] = version;
}

std::string CFdpGui::HistoryPath() const { return m_programFolder.empty() ? std::string() : HistoryFileIn(m_programFolder); }

std::string CFdpGui::KindName(std::uint8_t kind) {
    switch (kind) {
    case KindBoot: return "boot";
    case KindProgram: return "program";
    case KindParam: return "param";
    default: return std::to_string(kind);
    }
}

void CFdpGui::BeginHistory(std::uint8_t kind, const std::string& path) {
    HistoryRecord record;
    record.time = CUpdateHistory::UtcNow();
    record.adapter = AdapterName();
    record.target = FormatBdAddr(TargetAddress());
    record.kind = KindName(kind);
    record.file = path;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        record.size = static_cast<std::uint64_t>(info.st_size);
        // The digest is taken on the worker thread (HashDownloadFile): a large file
        // would hold up the window that asks for the download.
        // A firmware file carries its version as a little-endian word at offset 64.
        std::uint8_t word[4];
        std::FILE* file = kind != KindParam ? std::fopen(path.c_str(), "rb") : nullptr;
        if (file) {
            if (std::fseek(file, 64, SEEK_SET) == 0 && std::fread(word, 1, 4, file) == 4)
                record.fileVersion = FirmwareVersion::FromLe(word).Text();
            std::fclose(file);
        }
    }
    std::lock_guard lock(m_historyLock);
    record.task = !m_historyTask.empty() ? m_historyTask : kind == KindParam ? "parameters" : "firmware";
    if (kind < m_targetVersions.size()) record.targetVersion = m_targetVersions[kind];
    if (kind == KindParam) record.fields = m_historyFields;
    if (!m_historyFile.empty()) record.file = m_historyFile;
    m_download = std::move(record);
    m_downloadHashed = false;
    m_downloadStart = std::chrono::steady_clock::now();
}

void CFdpGui::HashDownloadFile() {
    std::string path;
    {
        std::lock_guard lock(m_historyLock);
        // The parameter block holds the login password: no hash of it (see the history).
        if (!m_download || m_downloadHashed || m_download->kind == KindName(KindParam)) return;
        m_downloadHashed = true;
        path = m_download->file;
    }
    const std::optional<std::string> digest = Sha256File(path);
    std::lock_guard lock(m_historyLock);
    if (m_download && digest) m_download->sha256 = *digest;
}

void CFdpGui::EndHistory(Stage stage, unsigned result) {
    std::lock_guard lock(m_historyLock);
    if (!m_download) return;
    m_download->stageCode = stage.Number();
    m_download->stage = StageText(stage);
    while (!m_download->stage.empty() && m_download->stage.back() == ' ') m_download->stage.pop_back();
    m_download->resultCode = result;
    m_download->result = AdapterLostText(stage, result).value_or(ResultText(result));
    m_download->durationMs = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                           std::chrono::steady_clock::now() - m_downloadStart)
                                                           .count());
    // A burnt firmware area is read back first; its version completes the line.
    if (!stage.ReadsVersionAfter(result)) AppendHistoryLocked();
}

void CFdpGui::AppendHistoryLocked() {
    const HistoryRecord record = std::move(*m_download);
    m_download.reset();
    // A history that cannot be written never stops the download's own report.
    std::string error;
    if (const std::string path = HistoryPath(); !path.empty() && !CUpdateHistory(path).Append(record, error))
        DebugTrace("%s\n", error.c_str());
}

int CFdpGui::Listen() { return StartListen(std::nullopt); }

int CFdpGui::LoginTo(const HeardTarget& target) { return StartListen(target); }

int CFdpGui::StartListen(std::optional<HeardTarget> target) {
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
    m_request = FdpRequest{};
    m_request.job = JobListen;
    m_request.target = std::move(target);
    const int result = m_engine->Submit(m_request);
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

std::uint8_t CFdpGui::CurrentJob() const { return m_engine ? m_engine->CurrentJob() : std::uint8_t{JobNone}; }

int CFdpGui::GetTrace(SharedBuffer buffer) {
    return SubmitRequest(JobGetTrace, 0, {}, std::move(buffer), kParamImageLen, IDS_GETTING_TRACE, true);
}
int CFdpGui::EnableTargetTestMode(SharedBuffer block) {
    return SubmitRequest(JobTransfer, TransferTestMode, {}, std::move(block), kTestBlockLen, IDS_LOOP_TESTING, true);
}
int CFdpGui::StartLoopTest(SharedBuffer block) {
    return SubmitRequest(JobTransfer, TransferLoopSetup, {}, std::move(block), kTestBlockLen, IDS_LOOP_TESTING, true);
}
int CFdpGui::SendLoopData(SharedBuffer buffer, std::uint32_t size) {
    return SubmitRequest(JobTransfer, TransferLoopSend, {}, std::move(buffer), size, IDS_LOOP_TESTING, true);
}
int CFdpGui::ReceiveLoopData(SharedBuffer buffer, std::uint32_t size) {
    return SubmitRequest(JobTransfer, TransferLoopReceive, {}, std::move(buffer), size, IDS_LOOP_TESTING, true);
}
int CFdpGui::DiagnoseTarget(SharedBuffer block) {
    return SubmitRequest(JobTransfer, TransferDiagnose, {}, std::move(block), kTestBlockLen, IDS_DIAGNOSING, true);
}
int CFdpGui::GetParams(SharedBuffer buffer) {
    return SubmitRequest(JobGetParams, 0, {}, std::move(buffer), kParamImageLen, IDS_GETTING_PARAMS, true);
}
int CFdpGui::GetTargetVersion(SharedBuffer block) {
    return SubmitRequest(JobTransfer, TransferVersion, {}, std::move(block), kVersionBlockLen, 0, false);
}

std::string CFdpGui::ResultText(unsigned result) {
    static constexpr std::uint8_t kResults[] = {FdpOk,      FdpFailed,    FdpInvalidOperation, FdpTimeout, FdpCancelled,
                                                FdpNoMemory, FdpNotOpened, FdpBusy,             FdpFileError};
    for (unsigned i = 0; i < std::size(kResults); ++i)
        if (kResults[i] == result) return LoadString(IDS_RESULT_FIRST + i);
    return LoadString(IDS_RESULT_UNKNOWN);
}

std::string CFdpGui::StageText(Stage stage) {
    if (stage.phase == Stage::Ended) return LoadString(IDS_STAGE_END_FIRST + unsigned{stage.step});
    return LoadString(IDS_STAGE_FIRST + unsigned{stage.step} * 2u + (unsigned{stage.phase} - 1u));
}

std::string CFdpGui::ReportStatusText(Stage stage, unsigned result) {
    if (result != 0) return LoadString(IDS_DOWNLOAD_STOPPED);
    // Runs once a block during a transfer: the result text is looked up only for the
    // end of a step, the only stage that shows it.
    std::string status = StageText(stage);
    if (stage.phase == Stage::Ended) status += ResultText(result);
    return status;
}

std::string CFdpGui::TakeReport(Stage stage, unsigned result) {
    HashDownloadFile();
    if (stage.EndsDownload(result)) EndHistory(stage, result);
    std::string text = AdapterLostText(stage, result).value_or(ReportStatusText(stage, result));
    std::lock_guard lock(m_textLock);
    m_statusText = text;
    m_resultText = LoadString(result != 0 ? IDS_OPERATION_FAILED : IDS_OPERATION_OK);
    return text;
}

std::string CFdpGui::statusText() const {
    std::lock_guard lock(m_textLock);
    return m_statusText;
}
std::string CFdpGui::resultText() const {
    std::lock_guard lock(m_textLock);
    return m_resultText;
}
void CFdpGui::SetStatusText(const std::string& text) {
    std::lock_guard lock(m_textLock);
    m_statusText = text;
}
void CFdpGui::SetResultText(const std::string& text) {
    std::lock_guard lock(m_textLock);
    m_resultText = text;
}

}  // namespace fdp
