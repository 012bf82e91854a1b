#include "fdp/FdpEngine.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <chrono>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fdp/FdpGui.h"
#include "fdp/FirmwareVersion.h"
#include "fdp/LinkChannel.h"
#include "fdp/LinkProtocol.h"
#include "fdp/PacketDriver.h"

namespace fdp {

namespace {

std::int32_t FileErrorIndexFor(int error) {
    switch (error) {
    case ENOENT: return FileNotFound;
    case EMFILE:
    case ENFILE: return FileTooManyOpen;
    case EIO: return FileHardwareIo;
    case ENOSPC: return FileDiskFull;
    case ENAMETOOLONG:
    case ENOTDIR: return FileBadPath;
    default: return FileOtherError;
    }
}

std::uint32_t MessageForJob(std::uint8_t job) {
    switch (job) {
    case JobDownloadBurn:
    case JobStagedDownload: return WM_FDP_DOWNLOAD;
    case JobErase: return WM_FDP_ERASE;
    case JobGetParams: return WM_FDP_PARAMS;
    case JobTransfer: return WM_FDP_TRANSFER;
    case JobGetTrace: return WM_FDP_TRACE;
    case JobListen: return WM_FDP_CONNECT;
    default: return 0;
    }
}

// The erase step of a flash area in the stage codes (boot 0, program 2, parameter 4);
// its burn step follows it.
unsigned EraseStep(std::uint8_t kind) { return kind == KindBoot ? 0u : kind == KindProgram ? 2u : 4u; }

}  // namespace

CFdpEngine::CFdpEngine() = default;

CFdpEngine::~CFdpEngine() { Stop(); }

int CFdpEngine::Start(IPacketDriver* driver, CFdpGui* frontEnd) {
    if (m_started) return 1;
    if (!m_protocol) m_protocol = std::make_unique<CLinkProtocol>();
    if (!m_channel) m_channel = std::make_unique<CLinkChannel>();
    m_driver = driver;
    m_frontEnd = frontEnd;
    if (!m_driver) return 0;

    m_stopWorker = false;
    m_stopReceiver = false;
    m_parkRequested = false;
    m_receiverParked = false;
    m_receiverDone = false;
    m_protocol->Init(this, m_channel.get());
    m_channel->Init(this, m_protocol.get(), m_driver);
    m_driver->Init(nullptr);
    m_job = JobNone;
    m_state = StateNotOpened;
    m_jobEvent.Reset();

    m_worker = std::thread([this] { WorkerMain(); });
    m_receiver = std::thread([this] { ReceiverMain(); });
    m_started = true;
    return 1;
}

int CFdpEngine::Stop() {
    if (!m_started) return 1;
    m_started = false;
    {
        std::lock_guard lock(m_stateLock);
        m_stopWorker = true;
        m_stopReceiver = true;
    }
    m_stateChanged.notify_all();
    // Every wait ends at once, including one between jobs (the erase and burn phases of a
    // staged download run after its job was cleared) and any armed later by the worker.
    m_channel->Shutdown();
    m_protocol->Shutdown();
    FdpRequest stop;
    stop.job = JobStop;
    Submit(stop);
    m_driver->WakeReceiver();

    // The receiver is joined, not abandoned: the driver's buffers stay valid until it has
    // left its read.
    m_receiver.join();
    m_worker.join();
    CloseDownloadFile();

    m_protocol->Uninit();
    m_channel->Uninit();
    m_driver->Uninit();
    m_protocol.reset();
    m_channel.reset();
    m_state = StateNotOpened;
    return 1;
}

int CFdpEngine::EnumerateAdapters() { return m_driver ? m_driver->EnumerateAdapters() : 0; }

int CFdpEngine::OpenAdapter(std::uint16_t index) {
    if (!m_driver) return OpenFailed;
    ParkReceiver();
    const int result = m_driver->OpenAdapter(index);
    if (result == OpenOk) {
        m_state = StateOpened;
        m_driver->SetScouting(true);
        m_adapterIndex = m_driver->OpenIndex();
    }
    UnparkReceiver();
    return result;
}

int CFdpEngine::CloseAdapter(std::uint16_t index) {
    if (!m_driver) return 0;
    ParkReceiver();
    const int result = m_driver->CloseAdapter(index);
    if (result == 0) m_state = StateNotOpened;
    UnparkReceiver();
    return result;
}

void CFdpEngine::GetLocalAddress(std::uint8_t* address) {
    if (m_state == StateNotOpened || !m_driver) {
        for (std::size_t i = 0; i < kEthAddrLen; ++i) address[i] = 0;
        return;
    }
    m_driver->GetLocalAddress(address);
}

std::string CFdpEngine::GetAdapterDescription(int index) {
    return m_driver ? m_driver->GetAdapterDescription(index) : std::string();
}
std::string CFdpEngine::GetAdapterName(int index) {
    return m_driver ? m_driver->GetAdapterName(index) : std::string();
}
int CFdpEngine::IsEthernet(int index) { return m_driver ? m_driver->IsEthernet(index) : 0; }

// The receiver must not be inside a read while the adapter is opened or closed under
// it: it is asked to park, woken from its read, and waited for.
void CFdpEngine::ParkReceiver() {
    if (!m_started) return;
    std::unique_lock lock(m_stateLock);
    m_parkRequested = true;
    m_driver->WakeReceiver();
    m_stateChanged.notify_all();
    m_stateChanged.wait(lock, [this] { return m_receiverParked || m_receiverDone; });
}

void CFdpEngine::UnparkReceiver() {
    if (!m_started) return;
    {
        std::lock_guard lock(m_stateLock);
        m_parkRequested = false;
    }
    m_stateChanged.notify_all();
}

int CFdpEngine::PrepareListen() {
    if (m_state == StateNotOpened) return FdpNotOpened;
    if (m_job != JobNone) return FdpBusy;
    if (m_protocol->PrepareListen() != 0) return FdpInvalidOperation;
    m_channel->Reset();
    m_state = StateOpened;
    // Not connected any more: the target may answer on any candidate again.
    m_driver->SetScouting(true);
    return 0;
}

int CFdpEngine::Submit(const FdpRequest& request) {
    // An unknown code would stay recorded, since the worker runs nothing for it, and
    // leave the engine busy for good.
    if (MessageForJob(request.job) == 0 && request.job != JobStop) return FdpInvalidOperation;
    std::lock_guard lock(m_requestLock);
    if (request.job == JobStop) {
        m_job = JobStop;
        m_jobEvent.Set();
        return 0;
    }
    if (!(m_state == StateOpened && request.job == JobListen)) {
        if (m_state != StateConnected) return 2;
        if (m_job != JobNone) return 1;
    }
    m_kind = request.kind;
    if (request.job == JobDownloadBurn || request.job == JobStagedDownload) m_path = request.path;
    if (request.job == JobListen) m_listenTarget = request.target;
    if (request.job == JobGetParams || request.job == JobTransfer || request.job == JobGetTrace) {
        m_buffer = request.buffer;
        m_size = request.size;
    }
    m_job = request.job;
    m_jobEvent.Set();
    return 0;
}

int CFdpEngine::Cancel() {
    if (m_state == StateConnected && m_job == JobDownloadBurn) return m_protocol->Cancel();
    return FdpInvalidOperation;
}

void CFdpEngine::WorkerMain() {
    {
        std::unique_lock lock(m_stateLock);
        m_stateChanged.wait(lock, [this] { return m_stopWorker || m_state != StateNotOpened; });
    }
    for (;;) {
        m_jobEvent.Wait();
        if (m_stopWorker) return;
        const std::uint8_t job = m_job;
        if (job == JobStop) return;
        if (job != JobNone) RunJob(job);
    }
}

void CFdpEngine::RunJob(std::uint8_t job) {
    SharedBuffer buffer;
    std::uint32_t size;
    std::optional<HeardTarget> listenTarget;
    {
        std::lock_guard lock(m_requestLock);
        m_runKind = m_kind;
        m_runPath = m_path;
        listenTarget = std::exchange(m_listenTarget, std::nullopt);
        buffer = std::move(m_buffer);
        size = m_size;
    }
    if (buffer) size = std::min(size, static_cast<std::uint32_t>(buffer->size()));
    else size = 0;

    switch (job) {
    case JobListen: {
        ConnectOutcome outcome;
        outcome.result = 4;
        if (m_state == StateOpened) {
            outcome = m_channel->Connect(listenTarget);
            if (outcome.result == ConnectOk && outcome.several.empty()) {
                m_state = StateConnected;
                m_protocol->LinkUp();
                m_driver->SetScouting(false);
            }
        }
        if (!outcome.several.empty()) {
            // No connection result: the listen ends with the question which target.
            ClearJob();
            m_frontEnd->OnSeveralTargets(outcome.several);
            return;
        }
        Finish(outcome.result, 0);
        return;
    }
    case JobErase: Finish(m_protocol->Erase(m_runKind), 0); return;
    case JobGetParams: Finish(m_protocol->GetParams(std::move(buffer), size), 0); return;
    case JobTransfer: Finish(m_protocol->Transfer(m_runKind, std::move(buffer), size), 0); return;
    case JobGetTrace: Finish(m_protocol->GetTraceText(m_runKind, std::move(buffer), size), 0); return;
    case JobDownloadBurn: RunDownload(false); return;
    case JobStagedDownload:
        m_job = JobDownloadBurn;   // counts as a download for Cancel, CurrentJob and its message
        RunDownload(true);
        return;
    default: return;
    }
}

// Only a regular file counts as opened: a directory opens on Linux, a FIFO would block
// the open until a writer came, and a device has no length to announce. Each is a file
// that cannot be opened, found before anything is sent.
bool CFdpEngine::OpenDownloadFile(std::int32_t& fileIndex) {
    CloseDownloadFile();
    fileIndex = 0;
    struct stat info {};
    if (::stat(m_runPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    m_file = ::open(m_runPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (m_file < 0) return false;
    // The path may have been replaced between the look and the open.
    if (::fstat(m_file, &info) != 0 || !S_ISREG(info.st_mode)) {
        CloseDownloadFile();
        return false;
    }
    fileIndex = -1;
    if (info.st_size > static_cast<off_t>(UINT32_MAX)) {
        fileIndex = FileOtherError;
        info.st_size = 0;
    }
    m_fileLength = static_cast<std::uint32_t>(info.st_size);
    m_remaining = m_fileLength;
    return true;
}

// Reads the block after sentBytes, straight from the file (no stale buffer); false with
// a file index when the file cannot be read or ends before the length taken at open,
// so that a short image is never sent as complete and burnt.
bool CFdpEngine::ReadBlock(std::uint32_t sentBytes, std::uint32_t& count, std::int32_t& fileIndex) {
    count = 0;
    if (fileIndex != -1) return false;
    const std::size_t want = std::min<std::size_t>(kBlockDataLen, m_remaining);
    if (want == 0) return true;
    ssize_t got;
    do {
        got = ::pread(m_file, m_block, want, static_cast<off_t>(sentBytes));
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
        fileIndex = got < 0 ? FileErrorIndexFor(errno) : FileOtherError;
        return false;
    }
    count = static_cast<std::uint32_t>(got);
    m_remaining -= count;
    return true;
}

void CFdpEngine::CloseDownloadFile() {
    if (m_file >= 0) ::close(m_file);
    m_file = -1;
}

void CFdpEngine::RunDownload(bool staged) {
    std::int32_t fileIndex = 0;
    if (!OpenDownloadFile(fileIndex)) {
        if (staged) m_frontEnd->Report(61, FdpFileError, 0, 0);
        Finish(FdpFileError, 0);
        return;
    }
    m_fileIndex = fileIndex;
    std::uint32_t count = 0;
    std::uint8_t result;
    if (!ReadBlock(0, count, m_fileIndex)) {
        if (staged) m_frontEnd->Report(62, FdpFileError, 0, 1000);
        result = FdpFileError;
    } else {
        if (staged) m_frontEnd->Report(62, FdpOk, 0, 1000);
        result = m_protocol->Download(m_runKind, m_block, count, m_fileLength, !staged);
    }
    Finish(result, m_fileIndex);
    if (!staged) return;

    // From here on the job is no longer recorded: the erase and burn phases end without
    // a message and must leave alone a request accepted meanwhile, which runs next.

    m_frontEnd->Report(63, result, 0, 0);
    if (result != FdpOk) return;

    const std::uint8_t kind = m_runKind;
    const unsigned erase = EraseStep(kind) * 10;
    m_frontEnd->Report(erase + 1, 0, 0, 0);
    m_frontEnd->Report(erase + 2, 0, 0, 0);
    result = m_protocol->Erase(kind);
    m_frontEnd->Report(erase + 3, result, 0, 0);
    if (result != FdpOk) return;

    const unsigned burn = erase + 10;
    m_frontEnd->Report(burn + 1, 0, 0, 0);
    m_frontEnd->Report(burn + 2, 0, 0, 0);
    result = m_protocol->Burn(kind);
    m_frontEnd->Report(burn + 3, result, 0, 0);
    if (result == FdpOk && (kind == KindBoot || kind == KindProgram)) ReadBackVersion(kind);
}

void CFdpEngine::ReadBackVersion(std::uint8_t kind) {
    const std::uint8_t wanted = kind == KindBoot ? kVersionWantedBoot : kVersionWantedProgram;
    SharedBuffer block = MakeBuffer(kVersionBlockLen);
    (*block)[0] = wanted;
    const std::uint8_t result = m_protocol->Transfer(TransferVersion, block, kVersionBlockLen);
    std::optional<FirmwareVersion> version;
    if (result == FdpOk) version = FirmwareVersion::FromAnswer(block->data(), wanted);
    m_frontEnd->OnBurntVersion(kind, version);
}

NextBlockResult CFdpEngine::NextBlock(std::uint32_t sentBytes) {
    const std::uint32_t progress =
        m_fileLength ? 1000u - static_cast<std::uint32_t>(std::uint64_t{m_remaining} * 1000u / m_fileLength) : 1000u;
    m_frontEnd->Report(62, 0, progress, 1000);
    m_frontEnd->Notify(WM_FDP_DOWNLOAD, NotifyProgress, static_cast<std::int32_t>(progress));
    NextBlockResult next;
    if (m_remaining == 0) return next;
    std::uint32_t count = 0;
    if (!ReadBlock(sentBytes, count, m_fileIndex)) {
        next.error = true;
        return next;
    }
    next.data = m_block;
    next.length = count;
    return next;
}

void CFdpEngine::Finish(unsigned result, std::int32_t fileIndex) {
    CloseDownloadFile();
    const std::uint8_t job = m_job;
    const std::uint32_t message = job == JobStop ? 0 : MessageForJob(job);
    std::uint32_t wParam = result;
    NotifyCode code = NotifyProgress;
    const bool hasMessage = message == WM_FDP_CONNECT || (message != 0 && NotifyCodeFor(result, code));
    if (message != WM_FDP_CONNECT) wParam = code;
    const std::int32_t lParam = result == FdpFileError ? fileIndex : m_runKind;
    // Idle before anyone hears of the end, so that a request made on hearing it is taken.
    ClearJob();
    if (message != 0) m_frontEnd->OnJobEnd(job, result);
    if (hasMessage) m_frontEnd->Notify(message, wParam, lParam);
}

// A stop request recorded while the job ran stays recorded, so the worker still ends.
void CFdpEngine::ClearJob() {
    std::uint8_t running = m_job;
    while (running != JobStop && !m_job.compare_exchange_weak(running, JobNone)) {
    }
}

void CFdpEngine::GetCredentials(const MacAddress& target, PasswordBlock& block) {
    m_frontEnd->GetCredentials(target, block);
}
void CFdpEngine::OnOtherTarget(const MacAddress& address) { m_frontEnd->OnOtherTarget(address); }

void CFdpEngine::ListenOnEveryCandidate() {
    if (m_state == StateOpened) m_driver->SetScouting(true);
}

bool CFdpEngine::UseAdapter(int index) {
    ParkReceiver();
    int result = OpenOk;
    if (index >= 0 && index != m_driver->OpenIndex()) result = m_driver->OpenAdapter(static_cast<std::uint16_t>(index));
    if (result == OpenOk || result == OpenAlreadyOpen) m_driver->SetScouting(false);
    UnparkReceiver();
    return result == OpenOk || result == OpenAlreadyOpen;
}

void CFdpEngine::OnTraceLength(std::uint32_t total) { m_frontEnd->OnTraceLength(total); }
void CFdpEngine::OnTraceData(const std::uint8_t* data, std::uint32_t length) {
    m_frontEnd->OnTraceData(data, length);
}

void CFdpEngine::ReceiverMain() {
    std::unique_lock lock(m_stateLock);
    for (;;) {
        if (m_stopReceiver) break;
        if (m_state == StateNotOpened || m_parkRequested) {
            m_receiverParked = true;
            m_stateChanged.notify_all();
            m_stateChanged.wait(lock, [this] {
                return m_stopReceiver || (m_state != StateNotOpened && !m_parkRequested);
            });
            m_receiverParked = false;
            continue;
        }
        lock.unlock();
        std::uint32_t count = 0;
        const auto before = std::chrono::steady_clock::now();
        const std::uint8_t* data = m_driver->ReceiveFrames(count);
        // The target's announce came in on another adapter, which the driver now uses:
        // the front end hears of it before the announce is handled.
        if (const int index = m_driver->OpenIndex(); index >= 0 && index != m_adapterIndex) {
            m_adapterIndex = index;
            m_frontEnd->OnAdapterMoved(index);
        }
        if (std::string notice = m_driver->TakeNotice(); !notice.empty()) m_frontEnd->OnLinkNotice(notice);
        if (std::string lost = m_driver->TakeAdapterLost(); !lost.empty()) AdapterLost(lost);
        for (const IPacketDriver::HeardAnnounce& heard : m_driver->TakeAnnouncers())
            m_channel->NoteAnnouncer(heard.source, heard.adapter);
        if (data && count) {
            DispatchCaptured(data, count);
            // The answer just handed over has woken the worker, which on a machine with
            // few cores often waits for this very core: giving it up now lets the worker
            // send its next command at once instead of after the receiver's next read
            // has blocked (measured by kelvane-bench: about 1.3 us less per block).
            std::this_thread::yield();
        } else if (std::chrono::steady_clock::now() - before < std::chrono::milliseconds(5)) {
            // A driver that fails at once (adapter gone) must not make this loop spin.
            std::unique_lock pause(m_stateLock);
            m_stateChanged.wait_for(pause, std::chrono::milliseconds(50),
                                    [this] { return m_stopReceiver || m_parkRequested; });
        }
        lock.lock();
    }
    m_receiverDone = true;
    m_stateChanged.notify_all();
}

// The login goes with the adapter: the operation waiting on the target ends at once
// instead of sitting out its time-out (80 s for a flash wait), and so does every one
// after it until the next login. The front end hears first, so that the failure it is
// then told of names the adapter. While listening there is nothing to end: the driver
// hears the target's announce on any candidate, this one once it is back included.
void CFdpEngine::AdapterLost(const std::string& adapter) {
    EngineState connected = StateConnected;
    if (!m_state.compare_exchange_strong(connected, StateOpened)) return;
    m_frontEnd->OnAdapterLost(adapter);
    m_protocol->AdapterLost();
}

void CFdpEngine::DispatchCaptured(const std::uint8_t* data, std::uint32_t count) {
    ForEachCapturedFrame(data, count, [this](std::span<const std::uint8_t> frame) {
        if (frame.size() >= kBodyOffset && m_driver->IsLinkFrame(frame.data()))
            m_channel->HandleFrame(frame.data(), static_cast<std::uint32_t>(frame.size()));
        return !m_stopReceiver;
    });
}

}  // namespace fdp
