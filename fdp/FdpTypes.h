// Codes and records shared by the device link and its callers.
#pragma once

#ifdef KELVANE_TARGET_PEER
#error "the target simulator keeps its own table instead of the PC's codes"
#endif

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fdp/HeardTarget.h"

namespace fdp {

// Flash area of a download; also sent as the command code of its data blocks.
enum DownloadKind : std::uint8_t {
    KindBoot = 1,
    KindProgram = 3,
    KindParam = 5,
};

// Result of every link operation. A target status byte is passed on unchanged,
// so values outside this list occur (11 is an aborted wait).
enum FdpResult : std::uint8_t {
    FdpOk = 0,
    FdpFailed = 1,
    FdpInvalidOperation = 2,
    FdpTimeout = 3,
    FdpCancelled = 4,
    FdpNoMemory = 7,
    FdpNotOpened = 8,
    FdpBusy = 9,
    FdpFileError = 10,
    FdpAborted = 11,
};

enum ConnectResult : std::uint8_t {
    ConnectOk = 0,
    ConnectBadPassword = 1,
    ConnectTimeout = 2,
    ConnectFlashUnsupported = 6,
    ConnectVersionLow = 9,
    ConnectAborted = 11,
};

enum FdpJob : std::uint8_t {
    JobNone = 0,
    JobDownloadBurn = 1,
    JobErase = 2,
    JobGetParams = 3,
    JobTransfer = 4,
    JobGetTrace = 5,
    JobListen = 7,
    JobStagedDownload = 8,
    JobStop = 100,
};

enum EngineState : std::uint8_t {
    StateNotOpened = 0,
    StateOpened = 1,
    StateConnected = 2,
};

enum TransferOp : std::uint8_t {
    TransferDiagnose = 0,
    TransferLoopSetup = 1,
    TransferLoopSend = 2,
    TransferTestMode = 3,
    TransferLoopReceive = 4,
    TransferVersion = 8,
};

// What a job's end carries when its file opened but a read failed (result FdpFileError).
enum FileErrorIndex : std::int32_t {
    FileNotFound = 0,
    FileTooManyOpen = 1,
    FileHardwareIo = 2,
    FileDiskFull = 3,
    FileBadPath = 4,
    FileOtherError = 5,
};

// A caller's answer buffer. Shared so that it outlives the job even when the
// caller gives up waiting: the worker and receiver may still write into it.
using SharedBuffer = std::shared_ptr<std::vector<std::uint8_t>>;

inline SharedBuffer MakeBuffer(std::size_t size) {
    return std::make_shared<std::vector<std::uint8_t>>(size, 0);
}

// The record a front end fills and hands to CLinkSession::Submit.
struct FdpRequest {
    std::uint8_t job = JobNone;
    std::uint8_t kind = 0;    // DownloadKind for jobs 1, 2, 8; TransferOp for job 4
    std::string path;         // jobs 1 and 8
    SharedBuffer buffer;      // jobs 3, 4, 5
    std::uint32_t size = 0;   // capacity used of buffer (never more than buffer->size())
    // Job 7: the target to log in to, chosen from those a listen heard, on its adapter;
    // nothing: whichever answers (alone).
    std::optional<HeardTarget> target;
};

}  // namespace fdp
