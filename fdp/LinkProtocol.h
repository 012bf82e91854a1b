// The command layer: one command group at a time (download, erase, get parameters,
// transfer, get trace). Builds the data frames, waits for the replies of the group in
// progress, collects answer data into the caller's buffer and returns one FdpResult.
//
// Threads: the operations run on the engine's worker thread; HandleData on its
// receiver thread; Cancel on the user-interface thread; Abort and Shutdown on the
// thread that stops the link. The answer buffer is shared with the receiver under a
// lock and released when the operation ends, so a late block never writes into it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "fdp/CompletionWait.h"
#include "fdp/FdpTypes.h"
#include "fdp/Frame.h"

namespace fdp {

class CLinkChannel;
class ILinkCallbacks;

class CLinkProtocol {
public:
    void Init(ILinkCallbacks* engine, CLinkChannel* channel);
    void Uninit();
    // Logged in: waits may be answered again after an adapter that went away.
    void LinkUp() {
        m_wait.ClearFailure();
        m_linkUp = true;
    }
    bool IsLinkUp() const { return m_linkUp; }
    int PrepareListen();
    void Abort();
    void Shutdown();   // every wait, now and later, ends with 11
    // The adapter went away: the wait in progress, and every later one until the next
    // login, ends at once with FdpNotOpened (any thread).
    void AdapterLost() { m_wait.Fail(FdpNotOpened); }

    std::uint8_t Download(std::uint8_t kind, const std::uint8_t* first, std::uint32_t length,
                          std::uint32_t total, bool burnAfter);
    std::uint8_t Burn(std::uint8_t kind);
    std::uint8_t Erase(std::uint8_t kind);
    std::uint8_t GetParams(SharedBuffer buffer, std::uint32_t capacity);
    std::uint8_t Transfer(std::uint8_t sub, SharedBuffer block, std::uint32_t size);
    // The same with a wait of its own instead of the transfer's.
    std::uint8_t Transfer(std::uint8_t sub, SharedBuffer block, std::uint32_t size, std::uint32_t timeoutMs);
    std::uint8_t GetTraceText(std::uint8_t kind, SharedBuffer buffer, std::uint32_t capacity);
    int Cancel();
    // A copy of a buffer handed to a request, taken under the lock with which answers
    // are written into it: a caller that stopped waiting before its answer ended reads
    // whatever has arrived, never bytes while they are being written.
    std::vector<std::uint8_t> CopyAnswer(const SharedBuffer& buffer);

    void HandleData(const std::uint8_t* body, std::uint32_t length);

    CommandGroup Group() const { return m_group.load(); }
    // Opens a group with an answer buffer without sending its command; for the fuzz
    // target, which must reach every group's reply handling.
    void BeginForTesting(CommandGroup group, SharedBuffer answer, std::uint32_t capacity) {
        m_linkUp = true;
        m_group = group;
        SetAnswer(std::move(answer), capacity);
    }

private:
    bool Admit(CommandGroup group, std::uint8_t kind);
    void End();
    // Arms the wait, sends one command and waits for its answer.
    std::uint8_t Exchange(std::uint8_t code, const std::uint8_t* data, std::uint16_t length,
                          std::uint32_t timeoutMs);
    std::uint8_t SendBlock(std::uint8_t kind, const std::uint8_t* data, std::uint32_t length);
    std::uint8_t AwaitAnswer(std::uint32_t timeoutMs);
    void SetAnswer(SharedBuffer buffer, std::uint32_t capacity);
    void Append(const std::uint8_t* data, std::size_t length);
    // Takes a numbered answer block; false when the numbering broke.
    bool TakeNumberedBlock(std::span<const std::uint8_t> data, std::uint16_t declared,
                           std::span<const std::uint8_t>& text);

    ILinkCallbacks* m_engine = nullptr;
    CLinkChannel* m_channel = nullptr;
    std::atomic<bool> m_linkUp{false};
    std::atomic<CommandGroup> m_group{GroupNone};
    std::uint8_t m_kind = 0;
    CCompletionWait m_wait;
    std::mutex m_cancelLock;          // Cancel against the end of its group
    std::atomic<bool> m_cancel{false};
    std::uint16_t m_blockCounter = 0;

    // Answer numbering; the receiver owns it while a group runs.
    std::atomic<std::uint16_t> m_lastBlock{0};
    std::atomic<bool> m_sequenceBroken{false};
    std::atomic<std::uint32_t> m_traceRemaining{0};

    std::mutex m_answerLock;
    SharedBuffer m_answer;
    std::uint32_t m_capacity = 0;
    std::uint32_t m_writePos = 0;

    // One outgoing data frame: type, code, length, data. Room for the largest block the
    // command layer builds (number and 1496 bytes), which the driver then refuses to send.
    static constexpr std::size_t kFrameRoom = kDataHeaderLen + 2 + kMaxBlockPayload;
    static_assert(kFrameRoom >= kDataHeaderLen + 1 + kMaxTransferBlock, "a transfer command must fit too");
    std::uint8_t m_frame[kFrameRoom] = {};
};

}  // namespace fdp
