#include "fdp/LinkSession.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <chrono>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fdp/RequestFrontEnd.h"
#include "fdp/FirmwareVersion.h"
#include "fdp/LinkChannel.h"
#include "fdp/LinkDispatcher.h"
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

// The jobs a request may ask for, whose end is told.
bool IsRequestJob(std::uint8_t job) {
    switch (job) {
    case JobDownloadBurn:
    case JobStagedDownload:
    case JobErase:
    case JobGetParams:
    case JobTransfer:
    case JobGetTrace:
    case JobListen: return true;
    default: return false;
    }
}

constexpr Stage kFileOpened{Stage::Transfer, Stage::Begun};
constexpr Stage kTransferring{Stage::Transfer, Stage::Running};
constexpr Stage kTransferEnded{Stage::Transfer, Stage::Ended};

}  // namespace

CLinkSession::CLinkSession() = default;

CLinkSession::~CLinkSession() { Stop(); }

int CLinkSession::Start(IPacketDriver* driver, CRequestFrontEnd* frontEnd) {
    if (m_started) return 1;
    if (!driver) {
        if (!m_protocol) m_protocol = std::make_unique<CLinkProtocol>();
        if (!m_channel) m_channel = std::make_unique<CLinkChannel>();
        m_frontEnd = frontEnd;
        return 0;
    }
    m_ownDispatcher = std::make_unique<CLinkDispatcher>(*driver);
    m_ownDispatcher->Start();
    return Start(*m_ownDispatcher, frontEnd);
}

int CLinkSession::Start(CLinkDispatcher& dispatcher, CRequestFrontEnd* frontEnd) {
    if (m_started) return 1;
    if (!m_protocol) m_protocol = std::make_unique<CLinkProtocol>();
    if (!m_channel) m_channel = std::make_unique<CLinkChannel>();
    m_dispatcher = &dispatcher;
    m_driver = &dispatcher.Driver();
    m_frontEnd = frontEnd;

    m_stopWorker = false;
    m_protocol->Init(this, m_channel.get());
    m_channel->Init(this, m_driver);
    m_job = JobNone;
    m_state = StateNotOpened;
    m_jobEvent.Reset();

    m_worker = std::thread([this] { WorkerMain(); });
    m_started = true;
    m_dispatcher->Attach(this);
    return 1;
}

int CLinkSession::Stop() {
    if (!m_started) return 1;
    m_started = false;
    {
        std::lock_guard lock(m_stateLock);
        m_stopWorker = true;
    }
    m_stateChanged.notify_all();
    // Every wait ends at once, including one between jobs (the erase and burn phases of a
    // staged download run after its job was cleared) and any armed later by the worker.
    m_channel->Shutdown();
    m_protocol->Shutdown();
    FdpRequest stop;
    stop.job = JobStop;
    Submit(stop);

    // No frame reaches the channel from here on.
    m_dispatcher->Detach(this);
    m_worker.join();
    CloseDownloadFile();

    m_protocol->Uninit();
    m_channel->Uninit();
    if (m_ownDispatcher) {
        m_ownDispatcher->Stop();
        m_ownDispatcher.reset();
    }
    m_dispatcher = nullptr;
    m_downloadRunning = false;
    m_protocol.reset();
    m_channel.reset();
    m_state = StateNotOpened;
    return 1;
}

int CLinkSession::EnumerateAdapters() { return m_driver ? m_driver->EnumerateAdapters() : 0; }

int CLinkSession::OpenAdapter(std::uint16_t index) {
    if (!m_driver) return OpenFailed;
    ParkReceiver();
    const int result = m_driver->OpenAdapter(index);
    // Already open: another session over the same driver opened it, and this one listens
    // on it too (leaving the driver's scouting to the sessions that set it).
    if (result == OpenOk || (result == OpenAlreadyOpen && m_state == StateNotOpened)) {
        {
            std::lock_guard lock(m_stateLock);
            m_state = StateOpened;
        }
        m_stateChanged.notify_all();
        if (result == OpenOk) m_driver->SetScouting(true);
        m_adapterIndex = m_driver->OpenIndex();
    }
    UnparkReceiver();
    return result;
}

int CLinkSession::CloseAdapter(std::uint16_t index) {
    if (!m_driver) return 0;
    ParkReceiver();
    const int result = m_driver->CloseAdapter(index);
    if (result == 0) m_state = StateNotOpened;
    UnparkReceiver();
    return result;
}

void CLinkSession::GetLocalAddress(std::uint8_t* address) {
    if (m_state == StateNotOpened || !m_driver) {
        for (std::size_t i = 0; i < kEthAddrLen; ++i) address[i] = 0;
        return;
    }
    m_driver->GetLocalAddress(address);
}

std::string CLinkSession::GetAdapterDescription(int index) {
    return m_driver ? m_driver->GetAdapterDescription(index) : std::string();
}
std::string CLinkSession::GetAdapterName(int index) {
    return m_driver ? m_driver->GetAdapterName(index) : std::string();
}
int CLinkSession::IsEthernet(int index) { return m_driver ? m_driver->IsEthernet(index) : 0; }

// The receiver must not be inside a read while the adapter is opened or closed under it.
void CLinkSession::ParkReceiver() {
    if (m_started) m_dispatcher->Park();
}

void CLinkSession::UnparkReceiver() {
    if (m_started) m_dispatcher->Unpark();
}

int CLinkSession::PrepareListen() {
    if (m_state == StateNotOpened) return FdpNotOpened;
    if (m_job != JobNone) return FdpBusy;
    EndReadBack();
    if (m_protocol->PrepareListen() != 0) return FdpInvalidOperation;
    m_channel->Reset();
    m_state = StateOpened;
    // Not connected any more: the target may answer on any candidate again.
    m_driver->SetScouting(true);
    return 0;
}

int CLinkSession::Submit(const FdpRequest& request) {
    // An unknown code would stay recorded, since the worker runs nothing for it, and
    // leave the engine busy for good.
    if (!IsRequestJob(request.job) && request.job != JobStop) return SubmitUnknownJob;
    {
        std::lock_guard lock(m_requestLock);
        if (request.job == JobStop) {
            m_job = JobStop;
            m_jobEvent.Set();
            return SubmitAccepted;
        }
        if (!(m_state == StateOpened && request.job == JobListen)) {
            if (m_state != StateConnected) return SubmitNotConnected;
            if (m_job != JobNone) return SubmitBusy;
        }
        m_pending = request;
        if (request.job == JobDownloadBurn || request.job == JobStagedDownload) m_downloadRunning = true;
        m_job = request.job;
        m_jobEvent.Set();
    }
    // Recorded first: a read-back about to begin sees the request and leaves it be.
    EndReadBack();
    return SubmitAccepted;
}

int CLinkSession::Cancel() {
    if (m_state == StateConnected && m_job == JobDownloadBurn) return m_protocol->Cancel();
    return FdpInvalidOperation;
}

void CLinkSession::WorkerMain() {
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

void CLinkSession::RunJob(std::uint8_t job) {
    {
        std::lock_guard lock(m_requestLock);
        m_running = std::exchange(m_pending, FdpRequest{});
    }
    SharedBuffer buffer = std::move(m_running.buffer);
    const std::uint32_t size = buffer ? std::min(m_running.size, static_cast<std::uint32_t>(buffer->size())) : 0;
    const std::optional<HeardTarget> listenTarget = std::move(m_running.target);

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
            m_frontEnd->Publish(SeveralTargetsHeard{std::move(outcome.several)});
            return;
        }
        Finish(outcome.result, 0);
        return;
    }
    case JobErase: Finish(m_protocol->Erase(m_running.kind), 0); return;
    case JobGetParams: Finish(m_protocol->GetParams(std::move(buffer), size), 0); return;
    case JobTransfer: Finish(m_protocol->Transfer(m_running.kind, std::move(buffer), size), 0); return;
    case JobGetTrace: Finish(m_protocol->GetTraceText(m_running.kind, std::move(buffer), size), 0); return;
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
bool CLinkSession::OpenDownloadFile(std::int32_t& fileIndex) {
    CloseDownloadFile();
    fileIndex = 0;
    struct stat info {};
    if (::stat(m_running.path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    m_file = ::open(m_running.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
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
bool CLinkSession::ReadBlock(std::uint32_t sentBytes, std::uint32_t& count, std::int32_t& fileIndex) {
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

void CLinkSession::CloseDownloadFile() {
    if (m_file >= 0) ::close(m_file);
    m_file = -1;
}

void CLinkSession::RunDownload(bool staged) {
    // The report that ends the download says so after the session does: whoever hears it
    // finds no download running.
    const auto report = [this](const StageReport& r) {
        if (r.stage.EndsDownload(r.result)) m_downloadRunning = false;
        m_frontEnd->Publish(r);
    };
    std::int32_t fileIndex = 0;
    if (!OpenDownloadFile(fileIndex)) {
        if (staged) report(StageReport{kFileOpened, FdpFileError, 0, 0, {}});
        m_downloadRunning = false;
        Finish(FdpFileError, 0);
        return;
    }
    m_fileIndex = fileIndex;
    std::uint32_t count = 0;
    std::uint8_t result;
    if (!ReadBlock(0, count, m_fileIndex)) {
        if (staged) report(StageReport{kTransferring, FdpFileError, 0, 1000, {}});
        result = FdpFileError;
    } else {
        if (staged) report(StageReport{kTransferring, FdpOk, 0, 1000, {}});
        result = m_protocol->Download(m_running.kind, m_block, count, m_fileLength, !staged);
    }
    if (!staged) m_downloadRunning = false;
    Finish(result, m_fileIndex);
    if (!staged) return;

    // From here on the job is no longer recorded: the erase and burn phases end without
    // a message and must leave alone a request accepted meanwhile, which runs next.

    report(StageReport{kTransferEnded, result, 0, 0, {}});
    if (result != FdpOk) return;

    const std::uint8_t kind = m_running.kind;
    const auto step = [&report, kind](bool burn, Stage::Phase phase, unsigned stepResult) {
        report(StageReport{Stage::Of(kind, burn, phase), stepResult, 0, 0, {}});
    };
    step(false, Stage::Begun, 0);
    step(false, Stage::Running, 0);
    result = m_protocol->Erase(kind);
    step(false, Stage::Ended, result);
    if (result != FdpOk) return;

    step(true, Stage::Begun, 0);
    step(true, Stage::Running, 0);
    result = m_protocol->Burn(kind);
    // A request accepted before the burn's end waits for the read-back; one made on
    // hearing of the end does not.
    const bool requestWaiting = m_job != JobNone;
    step(true, Stage::Ended, result);
    if (result == FdpOk && (kind == KindBoot || kind == KindProgram)) ReadBackVersion(kind, requestWaiting);
}

// A target that restarts after its burn answers late or never: the read-back waits a
// short while of its own, and a listen or a request made meanwhile ends it at once.
void CLinkSession::ReadBackVersion(std::uint8_t kind, bool requestWaiting) {
    const std::uint8_t wanted = kind == KindBoot ? kVersionWantedBoot : kVersionWantedProgram;
    SharedBuffer block = MakeBuffer(kVersionBlockLen);
    (*block)[0] = wanted;
    std::uint8_t result = FdpAborted;
    bool asked = false;
    {
        std::lock_guard lock(m_readBackLock);
        // A request came with the burn's end: it runs now, the version stays unread.
        if (m_job == JobNone || requestWaiting) asked = m_readingBack = true;
    }
    if (asked) {
        result = m_protocol->Transfer(TransferVersion, block, kVersionBlockLen, m_timeouts.readBack);
        {
            std::lock_guard lock(m_readBackLock);
            m_readingBack = false;
        }
        m_readBackEnded.notify_all();
    }
    std::optional<FirmwareVersion> version;
    if (result == FdpOk) version = FirmwareVersion::FromAnswer(block->data(), wanted);
    m_frontEnd->Publish(VersionAfterBurn{kind, version});
}

void CLinkSession::EndReadBack() {
    std::unique_lock lock(m_readBackLock);
    // Again until it ends: an abort that lands before the read-back's wait is armed is
    // cleared by the arm.
    while (m_readingBack) {
        m_protocol->Abort();
        m_readBackEnded.wait_for(lock, std::chrono::milliseconds(5));
    }
}

NextBlockResult CLinkSession::NextBlock(std::uint32_t sentBytes) {
    const std::uint32_t progress =
        m_fileLength ? 1000u - static_cast<std::uint32_t>(std::uint64_t{m_remaining} * 1000u / m_fileLength) : 1000u;
    m_frontEnd->Publish(StageReport{kTransferring, 0, progress, 1000, {}});
    m_frontEnd->Pace();
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

void CLinkSession::Finish(unsigned result, std::int32_t fileIndex) {
    CloseDownloadFile();
    const std::uint8_t job = m_job;
    const std::int32_t detail = result == FdpFileError ? fileIndex : m_running.kind;
    // Idle before anyone hears of the end, so that a request made on hearing it is taken.
    ClearJob();
    if (IsRequestJob(job)) m_frontEnd->Publish(JobEnded{job, result, detail});
}

// A stop request recorded while the job ran stays recorded, so the worker still ends.
void CLinkSession::ClearJob() {
    std::uint8_t running = m_job;
    while (running != JobStop && !m_job.compare_exchange_weak(running, JobNone)) {
    }
}

void CLinkSession::GetCredentials(const MacAddress& target, PasswordBlock& block) {
    m_frontEnd->GetCredentials(target, block);
}
void CLinkSession::OnOtherTarget(const MacAddress& address) { m_frontEnd->Publish(OtherTargetHeard{address, {}}); }

void CLinkSession::ListenOnEveryCandidate() {
    if (m_state == StateOpened) m_driver->SetScouting(true);
}

bool CLinkSession::UseAdapter(int index) {
    ParkReceiver();
    int result = OpenOk;
    if (index >= 0 && index != m_driver->OpenIndex()) result = m_driver->OpenAdapter(static_cast<std::uint16_t>(index));
    if (result == OpenOk || result == OpenAlreadyOpen) m_driver->SetScouting(false);
    UnparkReceiver();
    return result == OpenOk || result == OpenAlreadyOpen;
}

void CLinkSession::OnData(const std::uint8_t* body, std::uint32_t length) { m_protocol->HandleData(body, length); }

void CLinkSession::OnTraceLength(std::uint32_t total) { m_frontEnd->OnTraceLength(total); }
void CLinkSession::OnTraceData(const std::uint8_t* data, std::uint32_t length) {
    m_frontEnd->OnTraceData(data, length);
}

bool CLinkSession::ClaimsTarget(const MacAddress& source) const { return m_channel->Claims(source); }

void CLinkSession::HandleFrame(const std::uint8_t* frame, std::uint32_t length) { m_channel->HandleFrame(frame, length); }

void CLinkSession::NoteAnnouncer(const MacAddress& source, int adapter) { m_channel->NoteAnnouncer(source, adapter); }

void CLinkSession::NoteAdapterIndex(int index) {
    if (index >= 0 && index != m_adapterIndex) {
        m_adapterIndex = index;
        m_frontEnd->Publish(AdapterMoved{index, {}});
    }
}

void CLinkSession::NoteNotice(const std::string& text) { m_frontEnd->Publish(LinkNotice{text}); }

// The login goes with the adapter: the operation waiting on the target ends at once
// instead of sitting out its time-out (80 s for a flash wait), and so does every one
// after it until the next login. The front end hears first, so that the failure it is
// then told of names the adapter. While listening there is nothing to end: the driver
// hears the target's announce on any candidate, this one once it is back included.
void CLinkSession::NoteAdapterLost(const std::string& adapter) {
    EngineState connected = StateConnected;
    if (!m_state.compare_exchange_strong(connected, StateOpened)) return;
    m_frontEnd->Publish(AdapterLost{adapter});
    m_protocol->AdapterLost();
}

}  // namespace fdp
