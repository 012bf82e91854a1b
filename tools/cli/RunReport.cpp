#include "tools/cli/RunReport.h"

#include <nlohmann/json.hpp>

#include "fdp/FormatBdAddr.h"
#include "fdp/JsonLine.h"

namespace cli {

void CRunReport::SetFile(const std::string& path, std::optional<std::string> sha256) {
    m_file = path;
    m_sha256 = std::move(sha256);
}

void CRunReport::SetOutcome(std::string stage, std::string result, unsigned code) {
    m_stage = std::move(stage);
    m_result = std::move(result);
    m_code = code;
}

void CRunReport::SetOutcome(std::string stage, std::string result) {
    m_stage = std::move(stage);
    m_result = std::move(result);
    m_code.reset();
}

nlohmann::ordered_json CRunReport::HeardTargetJson(const fdp::HeardTarget& target,
                                                   std::chrono::steady_clock::time_point now) {
    const auto agoMs = std::chrono::duration_cast<std::chrono::milliseconds>(now - target.lastSeen).count();
    return {{"target", FormatBdAddr(target.address)},
            {"adapter", target.adapter},
            {"announces", target.announces},
            {"lastSeenMsAgo", agoMs}};
}

std::string CRunReport::StageWord(std::optional<fdp::Stage> stage) {
    if (!stage) return "operation";
    if (stage->IsFlashStep()) return stage->IsBurn() ? "burn" : "erase";
    return stage->step == fdp::Stage::Transfer ? "transfer" : stage->step == fdp::Stage::ReadParams ? "params" : "trace";
}

std::string CRunReport::Summary(int exitCode) const {
    return (m_target.empty() ? std::string("no target") : m_target) + "  " + m_operation + "  " +
           (m_result.empty() ? std::string("-") : m_result) + "  exit " + std::to_string(exitCode);
}

std::string CRunReport::Json(int exitCode) const {
    std::string stage = m_stage;
    if (stage.empty()) {
        stage = exitCode == 0 ? "done" : exitCode == 1 ? "usage" : exitCode == 2 ? "adapter" : exitCode == 3 ? "files"
              : exitCode >= 20 && exitCode < 40 ? "login" : "operation";
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_start);
    // Scripts find the members in this order; empty ones are left out.
    nlohmann::ordered_json json;
    json["operation"] = m_operation;
    const auto field = [&json](const char* name, const std::string& value) {
        if (!value.empty()) json[name] = value;
    };
    field("adapter", m_adapter);
    field("target", m_target);
    if (!m_versions.empty()) json["versions"] = m_versions;
    if (m_versionAfterSet) json["versionAfter"] = m_versionAfter ? nlohmann::ordered_json(*m_versionAfter) : nullptr;
    if (!m_otherTargets.empty()) {
        auto& others = json["otherTargets"] = nlohmann::ordered_json::array();
        for (const auto& [target, adapter] : m_otherTargets) others.push_back({{"target", target}, {"adapter", adapter}});
    }
    if (!m_heardTargets.empty()) {
        auto& heard = json["targets"] = nlohmann::ordered_json::array();
        for (const fdp::HeardTarget& target : m_heardTargets) heard.push_back(HeardTargetJson(target, m_heardAt));
    }
    field("file", m_file);
    if (m_sha256) field("sha256", *m_sha256);
    field("fields", m_fields);
    field("stage", stage);
    field("result", m_result);
    if (m_code) json["code"] = *m_code;
    json["exitCode"] = exitCode;
    json["ok"] = exitCode == 0;
    json["durationMs"] = ms.count();
    return fdp::JsonLine(json);
}

}  // namespace cli
