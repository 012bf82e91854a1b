#include "tools/cli/RunReport.h"

#include <cstdio>

#include "fdp/JsonString.h"

namespace cli {

std::string JsonString(const std::string& text) { return fdp::JsonString(text); }

void CRunReport::SetFile(const std::string& path, std::optional<std::string> sha256) {
    m_file = path;
    m_sha256 = std::move(sha256);
}

void CRunReport::SetOutcome(std::string stage, std::string result, unsigned code) {
    m_stage = std::move(stage);
    m_result = std::move(result);
    m_code = code;
}

std::string CRunReport::StageWord(unsigned stage) {
    static const char* const kSteps[] = {"erase", "burn", "erase", "burn", "erase", "burn", "transfer", "params", "trace"};
    const unsigned step = stage / 10;
    return step < std::size(kSteps) ? kSteps[step] : "operation";
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
    std::string json = "{\"operation\":" + JsonString(m_operation);
    const auto field = [&json](const char* name, const std::string& value) {
        if (!value.empty()) json += std::string(",\"") + name + "\":" + JsonString(value);
    };
    field("adapter", m_adapter);
    field("target", m_target);
    if (!m_versions.empty()) {
        json += ",\"versions\":{";
        bool first = true;
        for (const auto& [area, version] : m_versions) {
            json += (first ? "" : ",") + JsonString(area) + ":" + JsonString(version);
            first = false;
        }
        json += "}";
    }
    if (m_versionAfterSet) json += ",\"versionAfter\":" + (m_versionAfter ? JsonString(*m_versionAfter) : "null");
    if (!m_otherTargets.empty()) {
        json += ",\"otherTargets\":[";
        for (std::size_t i = 0; i < m_otherTargets.size(); ++i)
            json += std::string(i ? "," : "") + "{\"target\":" + JsonString(m_otherTargets[i].first) +
                    ",\"adapter\":" + JsonString(m_otherTargets[i].second) + "}";
        json += "]";
    }
    field("file", m_file);
    if (m_sha256) field("sha256", *m_sha256);
    field("fields", m_fields);
    field("stage", stage);
    field("result", m_result);
    if (m_code) json += ",\"code\":" + std::to_string(*m_code);
    json += ",\"exitCode\":" + std::to_string(exitCode) + ",\"ok\":" + (exitCode == 0 ? "true" : "false");
    json += ",\"durationMs\":" + std::to_string(ms.count()) + "}";
    return json;
}

}  // namespace cli
