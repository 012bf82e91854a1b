#include "fdp/LinkProtocol.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "fdp/LinkCallbacks.h"
#include "fdp/LinkChannel.h"

namespace fdp {

void CLinkProtocol::Init(ILinkCallbacks* engine, CLinkChannel* channel) {
    m_engine = engine;
    m_channel = channel;
    m_linkUp = false;
    m_group = GroupNone;
    m_kind = 0;
    m_cancel = false;
    m_blockCounter = 0;
    m_lastBlock = 0;
    m_wait.Restart();
    SetAnswer(nullptr, 0);
}

void CLinkProtocol::Uninit() {
    m_engine = nullptr;
    m_channel = nullptr;
}

int CLinkProtocol::PrepareListen() {
    if (m_linkUp && m_group != GroupNone) return FdpInvalidOperation;
    m_linkUp = false;
    return 0;
}

void CLinkProtocol::Abort() {
    if (m_group != GroupNone) m_wait.Complete(CCompletionWait::kAborted);
}

void CLinkProtocol::Shutdown() { m_wait.Shutdown(); }

bool CLinkProtocol::Admit(CommandGroup group, std::uint8_t kind) {
    if (!m_linkUp || m_group != GroupNone) return false;
    m_kind = kind;
    m_group = group;
    return true;
}

void CLinkProtocol::End() {
    SetAnswer(nullptr, 0);
    // A Cancel belongs to the group it was made in: one left over would turn the next
    // download group's success (a burn the target carried out) into "user cancelled".
    std::lock_guard lock(m_cancelLock);
    m_group = GroupNone;
    m_kind = 0;
    m_cancel = false;
}

std::uint8_t CLinkProtocol::AwaitAnswer(std::uint32_t timeoutMs) {
    const auto completion = m_wait.Wait(timeoutMs);
    if (!completion) return FdpTimeout;
    if (m_group == GroupDownload && m_cancel.exchange(false)) return FdpCancelled;
    return *completion;
}

std::uint8_t CLinkProtocol::Exchange(std::uint8_t code, const std::uint8_t* data, std::uint16_t length,
                                     std::uint32_t timeoutMs) {
    m_frame[1] = code;
    WriteLe16(m_frame + 2, length);
    if (length && data != m_frame + kDataHeaderLen) std::memcpy(m_frame + kDataHeaderLen, data, length);
    m_wait.Arm();
    // A refused or failed send leaves the wait to time out, as a lost frame would.
    m_channel->SendData(m_frame, static_cast<std::uint16_t>(length + 3));
    return AwaitAnswer(timeoutMs);
}

std::uint8_t CLinkProtocol::SendBlock(std::uint8_t kind, const std::uint8_t* data, std::uint32_t length) {
    if (length > kMaxBlockPayload) return FdpTimeout;
    m_blockCounter = NextBlockNumber(m_blockCounter);
    // Built once: a resend carries the same number and bytes.
    std::uint8_t* payload = m_frame + kDataHeaderLen;
    WriteLe16(payload, m_blockCounter);
    std::memcpy(payload + 2, data, length);
    const auto frameLength = static_cast<std::uint16_t>(length + 2);
    const LinkTimeouts& timeouts = m_engine->Timeouts();
    std::uint8_t result = FdpTimeout;
    for (int send = 0; send < timeouts.blockSends && result == FdpTimeout; ++send)
        result = Exchange(kind, payload, frameLength, timeouts.status);
    return result;
}

std::uint8_t CLinkProtocol::Download(std::uint8_t kind, const std::uint8_t* first, std::uint32_t length,
                                     std::uint32_t total, bool burnAfter) {
    if (!Admit(GroupDownload, kind)) return FdpInvalidOperation;
    if (!first || length == 0 || total == 0) {
        End();
        return FdpInvalidOperation;
    }
    const LinkTimeouts& timeouts = m_engine->Timeouts();
    m_blockCounter = 0;

    std::uint8_t start[5];
    start[0] = kind;
    WriteLe32(start + 1, total);
    std::uint8_t result = Exchange(FDP_CMD_START, start, sizeof start, timeouts.status);

    if (result == FdpOk) {
        std::uint32_t sent = 0;
        const std::uint8_t* block = first;
        std::uint32_t blockLength = length;
        while (block) {
            result = SendBlock(kind, block, blockLength);
            if (result != FdpOk) break;
            sent += blockLength;
            const NextBlockResult next = m_engine->NextBlock(sent);
            if (next.error) {
                result = FdpFileError;
                break;
            }
            block = next.data;
            blockLength = next.length;
        }
        // A Cancel accepted after the last block's answer still ends the download as
        // cancelled, as its result promised, before anything is burnt.
        if (result == FdpOk && m_cancel.exchange(false)) result = FdpCancelled;
        if (result == FdpCancelled) {
            Exchange(FDP_CMD_ABORT, nullptr, 0, timeouts.status);
            result = FdpCancelled;
        } else if (result == FdpOk && burnAfter) {
            // Burnt only when every block was acknowledged with status 0.
            result = Exchange(FDP_CMD_BURN, nullptr, 0, timeouts.Flash(kind));
        }
    }
    End();
    return result;
}

std::uint8_t CLinkProtocol::Burn(std::uint8_t kind) {
    m_group = GroupDownload;
    m_kind = kind;
    const std::uint8_t result = Exchange(FDP_CMD_BURN, nullptr, 0, m_engine->Timeouts().Flash(kind));
    End();
    return result;
}

std::uint8_t CLinkProtocol::Erase(std::uint8_t kind) {
    if (!Admit(GroupErase, kind)) return FdpInvalidOperation;
    const std::uint8_t result = Exchange(EraseCode(kind), nullptr, 0,
                                         m_engine->Timeouts().Flash(kind));
    End();
    return result;
}

std::uint8_t CLinkProtocol::GetParams(SharedBuffer buffer, std::uint32_t capacity) {
    if (!Admit(GroupGetParams, 0)) return FdpInvalidOperation;
    SetAnswer(std::move(buffer), capacity);
    const std::uint8_t result = Exchange(FDP_CMD_GET_PARAMS, nullptr, 0, m_engine->Timeouts().params);
    End();
    return result;
}

std::uint8_t CLinkProtocol::Transfer(std::uint8_t sub, SharedBuffer block, std::uint32_t size) {
    return Transfer(sub, std::move(block), size, m_engine->Timeouts().transfer);
}

std::uint8_t CLinkProtocol::Transfer(std::uint8_t sub, SharedBuffer block, std::uint32_t size,
                                     std::uint32_t timeoutMs) {
    const bool sendsBlock = sub != TransferLoopSend && sub != TransferLoopReceive;
    const std::uint32_t have = block ? static_cast<std::uint32_t>(block->size()) : 0;
    if (sendsBlock && (size > kMaxTransferBlock || size > have)) return FdpInvalidOperation;
    if (!Admit(GroupTransfer, 0)) return FdpInvalidOperation;
    // Built before the answer buffer is armed: the answer is written over the same block.
    std::uint8_t* data = m_frame + kDataHeaderLen;
    data[0] = sub;
    std::uint16_t length = 1;
    if (sendsBlock && size) {
        std::memcpy(data + 1, block->data(), size);
        length = static_cast<std::uint16_t>(1 + size);
    }
    SetAnswer(std::move(block), size);
    const std::uint8_t result = Exchange(FDP_CMD_TRANSFER, data, length, timeoutMs);
    End();
    return result;
}

std::uint8_t CLinkProtocol::GetTraceText(std::uint8_t kind, SharedBuffer buffer, std::uint32_t capacity) {
    if (!Admit(GroupGetTrace, kind)) return FdpInvalidOperation;
    m_traceRemaining = 0;
    SetAnswer(std::move(buffer), capacity);
    const std::uint8_t result = Exchange(FDP_CMD_GET_TRACE, nullptr, 0, m_engine->Timeouts().trace);
    End();
    return result;
}

int CLinkProtocol::Cancel() {
    // Under the lock with which End closes the group, so that the flag is never set for
    // a group that has already ended.
    std::lock_guard lock(m_cancelLock);
    if (!m_linkUp || m_group != GroupDownload || m_cancel) return FdpInvalidOperation;
    m_cancel = true;
    m_wait.Complete(0);
    return 0;
}

std::vector<std::uint8_t> CLinkProtocol::CopyAnswer(const SharedBuffer& buffer) {
    std::lock_guard lock(m_answerLock);
    return buffer ? *buffer : std::vector<std::uint8_t>{};
}

void CLinkProtocol::SetAnswer(SharedBuffer buffer, std::uint32_t capacity) {
    std::lock_guard lock(m_answerLock);
    if (buffer) capacity = std::min(capacity, static_cast<std::uint32_t>(buffer->size()));
    m_answer = std::move(buffer);
    m_capacity = m_answer ? capacity : 0;
    m_writePos = 0;
    m_lastBlock = 0;
    m_sequenceBroken = false;
}

void CLinkProtocol::Append(const std::uint8_t* data, std::size_t length) {
    std::lock_guard lock(m_answerLock);
    if (!m_answer) return;
    const std::size_t n = std::min<std::size_t>(length, m_capacity - m_writePos);
    if (n) std::memcpy(m_answer->data() + m_writePos, data, n);
    m_writePos += static_cast<std::uint32_t>(n);
}

bool CLinkProtocol::TakeNumberedBlock(std::span<const std::uint8_t> data, std::uint16_t declared,
                                      std::span<const std::uint8_t>& text) {
    if (data.size() < 2) return false;
    const std::uint16_t number = ReadLe16(data.data());
    // Once broken, the answer stays broken: no later number may mend it.
    if (m_sequenceBroken || number != m_lastBlock + 1) {
        m_lastBlock = kBrokenSequence;
        m_sequenceBroken = true;
        return false;
    }
    m_lastBlock = number;
    (void)declared;   // data is already cut to the declared length and the bytes received
    text = data.subspan(2);
    return true;
}

void CLinkProtocol::HandleData(const std::uint8_t* body, std::uint32_t length) {
    const auto view = ParseData({body, length});
    if (!view || !m_linkUp) return;
    const CommandGroup group = m_group;
    if (group == GroupNone || ReplyGroup(view->code) != group) return;
    const auto data = view->data;

    switch (view->code) {
    case FDP_RSP_STATUS_02:
    case FDP_RSP_STATUS_04:
    case FDP_RSP_ERASE:
    case FDP_RSP_TRANSFER_END:
        if (!data.empty()) m_wait.Complete(data[0]);
        return;
    case FDP_RSP_PARAMS_DATA:
    case FDP_RSP_TRANSFER_DATA: {
        std::span<const std::uint8_t> text;
        if (TakeNumberedBlock(data, view->declared, text)) Append(text.data(), text.size());
        return;
    }
    case FDP_RSP_PARAMS_END:
        if (m_sequenceBroken) m_wait.Complete(FdpFailed);
        else if (!data.empty()) m_wait.Complete(data[0]);
        return;
    case FDP_RSP_TRACE_LENGTH:
        if (data.size() < 4) return;
    {
        const std::uint32_t total = ReadLe32(data.data());
        m_traceRemaining = total;
        m_engine->OnTraceLength(total);
        // An empty trace has nothing more to come.
        if (total == 0) m_wait.Complete(FdpOk);
    }
        return;
    case FDP_RSP_TRACE_DATA: {
        std::span<const std::uint8_t> text;
        if (!TakeNumberedBlock(data, view->declared, text)) {
            m_group = GroupNone;
            m_wait.Complete(FdpFailed);
            return;
        }
        Append(text.data(), text.size());
        const auto count = static_cast<std::uint32_t>(text.size());
        m_engine->OnTraceData(text.data(), count);
        if (count < m_traceRemaining) {
            m_traceRemaining -= count;
        } else {
            m_traceRemaining = 0;
            m_wait.Complete(FdpOk);
        }
        return;
    }
    default:
        return;
    }
}

}  // namespace fdp
