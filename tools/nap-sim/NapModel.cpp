#include "tools/nap-sim/NapModel.h"

#include <algorithm>
#include <array>
#include <utility>

#include "fdp/param/ParamStore.h"
#include "fdp/param/StandardBlock.h"
#include "tools/nap-sim/NapProtocol.h"

namespace napsim {

using fdp::ReadLe16;
using fdp::ReadLe32;
using fdp::WriteLe16;
using fdp::WriteLe32;

namespace {

constexpr fdp::MacAddress kBroadcast = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr std::size_t kTestBlockLen = 19;

constexpr const char* kBuiltInTrace =
    "NAP trace\r\n"
    "boot: flash id ok, program image valid\r\n"
    "eth0: link up 100M full duplex\r\n"
    "bt: module reset, local name \"Jox NAP\"\r\n"
    "bt: page scan on, inquiry scan on\r\n"
    "pan: waiting for connections\r\n";

// The PC takes these login statuses as a refusal; every other one opens the session.
bool Refused(std::uint8_t status) {
    return status == wire::kLoginWrongPassword || status == wire::kLoginFlashUnsupported ||
           status == wire::kLoginPcTooOld || status == wire::kLoginError;
}

// The login answer the target expects: the password's first 16 bytes (zeros after a
// shorter one), the last four XOR the challenge as it was announced (little-endian).
std::array<std::uint8_t, wire::kLoginAnswerLen> ExpectedAnswer(std::string_view password, std::uint32_t challenge) {
    std::array<std::uint8_t, wire::kLoginAnswerLen> answer{};
    std::copy_n(password.begin(), std::min(password.size(), answer.size()), answer.begin());
    std::uint8_t mix[4];
    WriteLe32(mix, challenge);
    for (std::size_t i = 0; i < 4; ++i) answer[wire::kChallengeMixOffset + i] ^= mix[i];
    return answer;
}

std::string Text(std::string_view a, std::uint32_t n) { return std::string(a) + std::to_string(n); }

}  // namespace

// One command the target knows: its code, the data it needs at least, its handler.
struct CNapModel::Command {
    std::uint8_t code;
    std::size_t minData;
    void (CNapModel::*handler)(std::uint8_t, std::span<const std::uint8_t>);
};

const CNapModel::Command* CNapModel::FindCommand(std::uint8_t code) {
    static constexpr Command kCommands[] = {
        {wire::kAreaBoot, 2, &CNapModel::OnBlock},
        {wire::kAreaProgram, 2, &CNapModel::OnBlock},
        {wire::kAreaParam, 2, &CNapModel::OnBlock},
        {wire::kCmdBurn, 0, &CNapModel::OnBurn},
        {wire::kCmdAbort, 0, &CNapModel::OnAbort},
        {wire::kCmdStart, 5, &CNapModel::OnStart},
        {wire::kCmdEraseBoot, 0, &CNapModel::OnErase},
        {wire::kCmdEraseProgram, 0, &CNapModel::OnErase},
        {wire::kCmdEraseParam, 0, &CNapModel::OnErase},
        {wire::kCmdGetParams, 0, &CNapModel::OnGetParams},
        {wire::kCmdTransfer, 1, &CNapModel::OnTransfer},
        {wire::kCmdGetTrace, 0, &CNapModel::OnGetTrace},
    };
    for (const Command& command : kCommands)
        if (command.code == code) return &command;
    return nullptr;
}

CNapModel::CNapModel(NapConfig config)
    : m_config(std::move(config)), m_state(m_config.stateDir),
      m_random(m_config.challenge ? *m_config.challenge : std::random_device{}()) {
    m_challenge = m_config.challenge ? *m_config.challenge : static_cast<std::uint32_t>(m_random());
    if (m_state.Enabled()) {
        m_boot = m_state.Load(wire::kAreaBoot);
        m_program = m_state.Load(wire::kAreaProgram);
        m_paramImage = m_state.Load(wire::kAreaParam);
    }
    if (m_config.params.size() == wire::kParamBlockLen)
        m_params = m_config.params;
    else if (m_paramImage && m_paramImage->size() == wire::kParamBlockLen) {
        m_params = *m_paramImage;
        // A state folder from before the adopted password was kept on its own.
        if (const auto burnt = BurntPassword(m_params)) m_config.password = *burnt;
    } else {
        const param::ParamBlock standard = param::MakeStandardBlock();
        m_params.assign(standard.bytes.begin(), standard.bytes.end());
    }
    if (const auto kept = m_state.LoadPassword()) m_config.password = *kept;
    if (m_config.keepVersion) {
        m_config.bootVersion = Version(wire::kVersionOfBoot);
        m_config.programVersion = Version(wire::kVersionOfProgram);
    }
}

// The target takes its login password from a burnt block whose change mask marks the
// password; any other burnt block leaves the password as it was.
std::optional<std::string> CNapModel::BurntPassword(std::span<const std::uint8_t> block) {
    param::CParamStore store;
    store.LoadBlock(block);
    if ((store.GetDword(wire::kParamChangeMask) & wire::kPasswordChanged) == 0) return std::nullopt;
    std::array<std::uint8_t, wire::kPasswordLen> value{};
    std::uint16_t length = 0;
    if (!store.GetParam(wire::kParamPassword, value, length)) return std::nullopt;
    const auto end = std::find(value.begin(), value.begin() + length, std::uint8_t{0});
    return std::string(value.begin(), end);
}

void CNapModel::NewChallenge() { m_challenge = static_cast<std::uint32_t>(m_random()); }

std::optional<std::vector<std::uint8_t>>& CNapModel::Area(std::uint8_t kind) {
    return const_cast<std::optional<std::vector<std::uint8_t>>&>(std::as_const(*this).Image(kind));
}

const std::optional<std::vector<std::uint8_t>>& CNapModel::Image(std::uint8_t kind) const {
    return kind == wire::kAreaBoot ? m_boot : kind == wire::kAreaProgram ? m_program : m_paramImage;
}

std::uint32_t CNapModel::Version(std::uint8_t which) const {
    const bool boot = which == wire::kVersionOfBoot;
    const auto& knob = boot ? m_config.bootVersion : m_config.programVersion;
    if (knob) return *knob;
    const auto& image = boot ? m_boot : m_program;
    if (image && image->size() >= kVersionOffset + 4) return ReadLe32(image->data() + kVersionOffset);
    if (boot ? m_bootErased : m_programErased) return kErasedVersion;
    return boot ? kBuiltInBootVersion : kBuiltInProgramVersion;
}

// ---- sending ---------------------------------------------------------------------------

void CNapModel::Log(FrameDirection direction, std::span<const std::uint8_t> frame,
                    std::string_view note) {
    if (m_log) m_log(direction, frame, note);
}

void CNapModel::Send(std::uint8_t type, std::span<const std::uint8_t> body, const fdp::MacAddress& to,
                     std::uint32_t delayMs) {
    std::vector<std::uint8_t> frame(fdp::kEthHeaderLen + 1 + body.size());
    std::copy(to.begin(), to.end(), frame.begin());
    std::copy(m_config.address.begin(), m_config.address.end(), frame.begin() + fdp::kEthAddrLen);
    frame[12] = 0x07;
    frame[13] = 0x07;
    frame[fdp::kFrameTypeOffset] = type;
    std::copy(body.begin(), body.end(), frame.begin() + fdp::kBodyOffset);
    if (frame.size() < fdp::kEthHeaderLen + fdp::kMinPayload) frame.resize(fdp::kEthHeaderLen + fdp::kMinPayload, 0);
    m_outbox.push_back({std::move(frame), delayMs});
}

void CNapModel::Flush(std::string_view outNote) {
    for (const Outgoing& out : m_outbox) {
        Log(FrameDirection::Out, out.frame, outNote);
        if (m_send) m_send(out.frame, out.delayMs);
    }
    m_outbox.clear();
}

void CNapModel::SendData(std::uint8_t code, std::span<const std::uint8_t> data, std::uint32_t delayMs) {
    std::vector<std::uint8_t> body(3 + data.size());
    body[0] = code;
    WriteLe16(&body[1], static_cast<std::uint16_t>(data.size()));
    std::copy(data.begin(), data.end(), body.begin() + 3);
    Send(wire::kData, body, m_pc, delayMs);
}

void CNapModel::SendStatus(std::uint8_t code, std::uint8_t status, std::uint32_t delayMs) {
    const std::uint8_t data[1] = {status};
    SendData(code, data, delayMs);
}

void CNapModel::SendDownloadStatus(std::uint8_t status, std::uint32_t delayMs) {
    SendStatus(m_config.statusCode, status, delayMs);
}

void CNapModel::ReplyDownload(std::uint8_t status, std::uint32_t delayMs, std::string_view note) {
    Note(note);
    SendDownloadStatus(status, delayMs);
}

void CNapModel::SendAnswer(std::uint8_t dataCode, std::span<const std::uint8_t> answer) {
    std::array<std::uint8_t, 2 + kAnswerBlockLen> block;
    std::uint16_t number = 0;
    std::size_t offset = 0;
    do {
        const std::size_t n = std::min(kAnswerBlockLen, answer.size() - offset);
        WriteLe16(block.data(), ++number);
        std::copy_n(answer.begin() + static_cast<std::ptrdiff_t>(offset), n, block.begin() + 2);
        SendData(dataCode, std::span(block.data(), 2 + n));
        offset += n;
    } while (offset < answer.size());
}

// ---- receiving -------------------------------------------------------------------------

void CNapModel::Announce() {
    // The second and third values mean nothing to the PC; they stay zero.
    std::uint8_t body[12] = {};
    WriteLe32(body, m_challenge);
    m_outbox.clear();
    Send(wire::kAnnounce, body, kBroadcast);
    Flush("announce");
}

void CNapModel::HandleFrame(std::span<const std::uint8_t> frame) {
    m_note.clear();
    m_outbox.clear();
    const auto view = fdp::ParseFrame(frame);
    if (!view)
        Note("dropped: not a link frame");
    else if (view->type == wire::kLogin)
        OnLogin(*view);
    else if (view->type == wire::kData)
        OnData(*view);
    else
        Note("dropped: frame type not sent to a target");
    // The frame is logged before the replies it caused.
    Log(FrameDirection::In, frame, m_note);
    Flush();
}

void CNapModel::OnLogin(const fdp::FrameView& frame) {
    if (frame.body.size() < wire::kLoginAnswerOffset + wire::kLoginAnswerLen) return Note("dropped: short login");
    const auto expected = ExpectedAnswer(m_config.password, m_challenge);
    const bool right = std::equal(expected.begin(), expected.end(), frame.body.begin() + wire::kLoginAnswerOffset);
    const std::uint8_t status = right ? m_config.loginStatus : wire::kLoginWrongPassword;
    Note(right ? "login" : "login: wrong answer");
    m_pc = frame.source;
    m_loggedIn = !Refused(status);
    m_download = {};
    m_silent = false;
    NewChallenge();
    const std::uint8_t body[1] = {status};
    Send(wire::kLoginReply, body, m_pc);
}

void CNapModel::OnData(const fdp::FrameView& frame) {
    if (!m_loggedIn || frame.source != m_pc) return Note("dropped: not logged in");
    const auto data = fdp::ParseData(frame.body);
    if (!data) return Note("dropped: short data frame");
    if (data->data.size() < data->declared) return Note("dropped: length beyond the frame");
    const Command* command = FindCommand(data->code);
    if (!command) return Note("dropped: unknown command");
    if (data->data.size() < command->minData) return Note("dropped: command data too short");
    if (m_silent && data->code != wire::kCmdStart) return Note("silent");
    (this->*command->handler)(data->code, data->data);
}

void CNapModel::OnStart(std::uint8_t /*code*/, std::span<const std::uint8_t> data) {
    const std::uint8_t kind = data[0];
    const std::uint32_t total = ReadLe32(data.data() + 1);
    m_download = {};
    m_silent = false;
    ++m_downloadsStarted;
    std::uint8_t status = FaultsApply() ? m_config.startStatus : std::uint8_t{0};
    std::string note = "start";
    if (kind != wire::kAreaBoot && kind != wire::kAreaProgram && kind != wire::kAreaParam) {
        status = 1;
        note = "start: unknown area";
    } else if (total == 0 || total > kMaxDownloadLen) {
        status = 1;
        note = "start: length out of range";
    }
    if (status == 0) {
        m_download.active = true;
        m_download.kind = kind;
        m_download.total = total;
    }
    ReplyDownload(status, 0, note);
}

void CNapModel::OnBlock(std::uint8_t code, std::span<const std::uint8_t> data) {
    Download& d = m_download;
    if (!d.active || code != d.kind) return ReplyDownload(1, 0, "block: no download of this area");
    const std::uint16_t number = ReadLe16(data.data());
    const auto bytes = data.subspan(2);
    if (number != wire::NextDownloadBlock(d.lastNumber)) {
        // Our acknowledgement got lost and the PC sent the block again: acknowledge once more.
        if (d.accepted > 0 && number == d.lastNumber) return ReplyDownload(0, 0, "block: repeat");
        return ReplyDownload(1, 0, Text("block: out of sequence, expected ",
                                             wire::NextDownloadBlock(d.lastNumber)));
    }
    const std::uint32_t ordinal = d.accepted + 1;
    if (m_config.dropFirstSend.count(ordinal) && d.dropped.insert(ordinal).second) {
        // The frame is lost on its way: no reply at all.
        return Note(Text("ignored: first send of block ", ordinal));
    }
    if (const auto fault = m_config.blockStatus.find(ordinal); fault != m_config.blockStatus.end() && FaultsApply())
        return ReplyDownload(fault->second, 0, Text("block: fault status for block ", ordinal));
    if (d.bytes.size() + bytes.size() > d.total) return ReplyDownload(1, 0, "block: beyond the announced length");
    d.bytes.insert(d.bytes.end(), bytes.begin(), bytes.end());
    d.lastNumber = number;
    d.accepted = ordinal;
    if (m_config.silenceAfterBlock && ordinal >= *m_config.silenceAfterBlock) m_silent = true;
    SendDownloadStatus(0);
}

void CNapModel::OnBurn(std::uint8_t /*code*/, std::span<const std::uint8_t> /*data*/) {
    Download& d = m_download;
    if (!d.active) return ReplyDownload(1, 0, "burn: no download");
    if (d.bytes.size() != d.total) return ReplyDownload(1, 0, "burn: download incomplete");
    if (m_config.burnStatus != 0 && FaultsApply()) return ReplyDownload(m_config.burnStatus, m_config.burnDelayMs, "burn: fault status");
    if (d.kind == wire::kAreaParam && d.bytes.size() != wire::kParamBlockLen)
        return ReplyDownload(1, 0, "burn: not a parameter block");
    if (m_state.Enabled() && !m_state.Store(d.kind, d.bytes))
        return ReplyDownload(1, 0, "burn: state folder not writable");
    if (d.kind == wire::kAreaParam) {
        // The adopted password outlives the block: a later block without the change bit
        // leaves it, also across a restart.
        if (const auto adopted = BurntPassword(d.bytes)) {
            if (m_state.Enabled() && !m_state.StorePassword(*adopted))
                return ReplyDownload(1, 0, "burn: state folder not writable");
            m_config.password = *adopted;
        }
        m_params = d.bytes;
    }
    (d.kind == wire::kAreaBoot ? m_bootErased : m_programErased) = false;
    Area(d.kind) = std::move(d.bytes);
    m_download = {};
    ReplyDownload(0, m_config.burnDelayMs, "burnt");
}

void CNapModel::OnAbort(std::uint8_t /*code*/, std::span<const std::uint8_t> /*data*/) {
    m_download = {};
    ReplyDownload(0, 0, "aborted");
}

void CNapModel::OnErase(std::uint8_t code, std::span<const std::uint8_t> /*data*/) {
    const auto kind = static_cast<std::uint8_t>(code & 0x0F);   // 0x11, 0x13, 0x15: the area in the low bits
    if (m_config.eraseStatus != 0 && FaultsApply()) {
        Note("erase: fault status");
        return SendStatus(wire::kRspErase, m_config.eraseStatus, m_config.eraseDelayMs);
    }
    Area(kind).reset();
    if (kind == wire::kAreaBoot) m_bootErased = true;
    if (kind == wire::kAreaProgram) m_programErased = true;
    m_state.Remove(kind);
    Note("erased");
    SendStatus(wire::kRspErase, 0, m_config.eraseDelayMs);
}

void CNapModel::OnGetParams(std::uint8_t /*code*/, std::span<const std::uint8_t> /*data*/) {
    SendAnswer(wire::kRspParamsData, m_params);
    SendStatus(wire::kRspParamsEnd, 0);
}

void CNapModel::OnTransfer(std::uint8_t /*code*/, std::span<const std::uint8_t> data) {
    const std::uint8_t sub = data[0];
    const auto block = data.subspan(1);
    std::vector<std::uint8_t> answer;
    std::uint8_t status = 0;
    switch (sub) {
    case wire::kSubDiagnose:
        answer.assign(kTestBlockLen, 0);
        answer[0] = m_config.diagnose;
        break;
    case wire::kSubLoopSetup:
        m_loopData.clear();
        if (m_bluetooth) m_bluetooth->LoopSetup(block);
        break;
    case wire::kSubLoopSend:
        if (m_bluetooth) m_bluetooth->LoopSend();
        break;
    case wire::kSubTestMode:
        answer.assign(kTestBlockLen, 0);
        answer[0] = m_bluetooth ? m_bluetooth->RunCommand(block) : m_config.testModeStatus;
        break;
    case wire::kSubLoopReceive:
        if (m_bluetooth) {
            // Answered once the dongle's data has arrived (AnswerLoopReport).
            m_loopReportPending = true;
            m_bluetooth->RequestLoopReport();
            return;
        }
        answer = m_loopData;
        break;
    case wire::kSubVersion:
        if (!block.empty() && (block[0] == wire::kVersionOfBoot || block[0] == wire::kVersionOfProgram)) {
            answer.resize(4);
            WriteLe32(answer.data(), Version(block[0]));
        } else {
            status = 1;
        }
        break;
    default:
        status = 1;
        break;
    }
    if (!answer.empty()) SendAnswer(wire::kRspTransferData, answer);
    if (status != 0) Note("transfer: unknown request");
    else status = m_config.transferStatus;
    SendStatus(wire::kRspTransferEnd, status);
}

void CNapModel::AnswerLoopReport(std::span<const std::uint8_t> report) {
    if (!m_loopReportPending || !m_loggedIn) return;
    m_loopReportPending = false;
    if (!report.empty()) SendAnswer(wire::kRspTransferData, report.first(std::min(report.size(), kMaxAnswerLen)));
    SendStatus(wire::kRspTransferEnd, 0);
    Flush("loop report");
}

void CNapModel::OnGetTrace(std::uint8_t /*code*/, std::span<const std::uint8_t> /*data*/) {
    std::string_view text = m_config.traceText ? std::string_view(*m_config.traceText) : kBuiltInTrace;
    text = text.substr(0, std::min(text.size(), kMaxAnswerLen));
    std::uint8_t total[4];
    WriteLe32(total, static_cast<std::uint32_t>(text.size()));
    SendData(wire::kRspTraceLength, total);
    // An empty trace still gets one (empty) block: the PC completes on a block.
    SendAnswer(wire::kRspTraceData,
               std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

}  // namespace napsim
