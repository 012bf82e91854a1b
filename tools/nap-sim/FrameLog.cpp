#include "tools/nap-sim/FrameLog.h"

#include <algorithm>

#include "fdp/FrameCodec.h"
#include "tools/nap-sim/NapProtocol.h"

namespace napsim {

namespace {

void AppendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    out += '"';
}

void AppendField(std::string& out, std::string_view key, unsigned long value) {
    out += ",\"";
    out += key;
    out += "\":";
    out += std::to_string(value);
}

bool IsNumberedReply(std::uint8_t code) {
    return code == wire::kRspParamsData || code == wire::kRspTransferData || code == wire::kRspTraceData;
}

bool IsStatusReply(std::uint8_t code) {
    return code == wire::kRspStatus || code == wire::kRspStatusAlt || code == wire::kRspErase ||
           code == wire::kRspParamsEnd || code == wire::kRspTransferEnd;
}

}  // namespace

CFrameLog::~CFrameLog() {
    if (m_file) std::fclose(m_file);
}

bool CFrameLog::Open(const std::string& path) {
    std::lock_guard lock(m_lock);
    if (m_file) std::fclose(m_file);
    m_file = std::fopen(path.c_str(), "w");
    return m_file != nullptr;
}

std::string CFrameLog::Describe(FrameDirection direction, std::span<const std::uint8_t> frame,
                                std::string_view note) {
    const bool in = direction == FrameDirection::In;
    std::string out = in ? "\"dir\":\"in\"" : "\"dir\":\"out\"";
    if (const auto view = fdp::ParseFrame(frame)) {
        AppendField(out, "type", view->type);
        if (view->type == wire::kData) {
            if (const auto data = fdp::ParseData(view->body)) {
                AppendField(out, "code", data->code);
                // Download blocks from the PC carry their kind as code; numbered answers
                // from the target carry a reply code.
                const bool block = in ? (data->code == wire::kAreaBoot || data->code == wire::kAreaProgram ||
                                         data->code == wire::kAreaParam)
                                      : IsNumberedReply(data->code);
                if (block && data->data.size() >= 2)
                    AppendField(out, "block", fdp::ReadLe16(data->data.data()));
                else if (!in && IsStatusReply(data->code) && !data->data.empty())
                    AppendField(out, "status", data->data[0]);
            }
        } else if (view->type == wire::kLoginReply && !view->body.empty()) {
            AppendField(out, "status", view->body[0]);
        } else if (view->type == wire::kAnnounce && view->body.size() >= 4) {
            AppendField(out, "challenge", fdp::ReadLe32(view->body.data()));
        }
    }
    out += ",\"note\":";
    AppendQuoted(out, note);
    AppendField(out, "len", frame.size());
    out += ",\"head\":\"";
    static constexpr char kHex[] = "0123456789abcdef";
    const auto payload = frame.size() > fdp::kEthHeaderLen ? frame.subspan(fdp::kEthHeaderLen)
                                                           : std::span<const std::uint8_t>{};
    for (const std::uint8_t b : payload.first(std::min<std::size_t>(payload.size(), 64))) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    out += '"';
    return out;
}

void CFrameLog::Frame(FrameDirection direction, std::span<const std::uint8_t> frame,
                      std::string_view note) {
    if (!m_file) return;
    WriteLine(Describe(direction, frame, note));
}

void CFrameLog::Event(std::string_view event, std::string_view detail) {
    if (!m_file) return;
    std::string body = "\"event\":";
    AppendQuoted(body, event);
    if (!detail.empty()) {
        body += ",\"detail\":";
        AppendQuoted(body, detail);
    }
    WriteLine(body);
}

void CFrameLog::WriteLine(const std::string& body) {
    std::lock_guard lock(m_lock);
    if (!m_file) return;
    const auto elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - m_start);
    std::fprintf(m_file, "{\"t_ms\":%.3f,%s}\n", elapsed.count(), body.c_str());
    std::fflush(m_file);
}

}  // namespace napsim
