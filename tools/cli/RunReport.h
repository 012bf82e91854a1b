// What one run of kelvane-cli did, for scripts: written with --json as one JSON object
// on a line of standard output (the human texts go to standard error then).
#pragma once

#include <optional>

#include "fdp/Stage.h"

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "fdp/HeardTarget.h"

namespace cli {

class CRunReport {
public:
    CRunReport() : m_start(std::chrono::steady_clock::now()) {}

    void SetOperation(std::string operation) { m_operation = std::move(operation); }
    // The file sent or written, with its SHA-256 when it could be read (never for a
    // parameter block: it holds the login password).
    void SetFile(const std::string& path, std::optional<std::string> sha256);
    // A parameter download's changed fields by name ("name,password").
    void SetFields(std::string fields) { m_fields = std::move(fields); }
    void SetAdapter(std::string adapter) { m_adapter = std::move(adapter); }
    void SetTarget(std::string address) { m_target = std::move(address); }
    const std::string& Target() const { return m_target; }
    const std::string& Operation() const { return m_operation; }
    // The result as the wizard says it; empty when none was recorded.
    const std::string& Result() const { return m_result; }
    const std::optional<std::string>& VersionAfter() const { return m_versionAfter; }
    void SetVersion(const std::string& area, std::string version) { m_versions[area] = std::move(version); }
    // The version the target reports after a burn; nothing: it could not be read.
    void SetVersionAfter(std::optional<std::string> version) {
        m_versionAfter = std::move(version);
        m_versionAfterSet = true;
    }
    // The targets a listen heard when several answered and none was logged in to; at:
    // when the listen ended.
    void SetHeardTargets(std::vector<fdp::HeardTarget> targets, std::chrono::steady_clock::time_point at) {
        m_heardTargets = std::move(targets);
        m_heardAt = at;
    }
    // A heard target as an object of --json: target, adapter, announces, lastSeenMsAgo
    // (before now); the same in `targets` and in a report's targets.
    static nlohmann::ordered_json HeardTargetJson(const fdp::HeardTarget& target,
                                                  std::chrono::steady_clock::time_point now);
    // Other targets heard (address, adapter), named whenever there were any.
    void SetOtherTargets(std::vector<std::pair<std::string, std::string>> others) { m_otherTargets = std::move(others); }
    // Where the run ended and how: a stage word ("login", "transfer", "erase", "burn" ...)
    // and the result as the wizard says it, with its code.
    void SetOutcome(std::string stage, std::string result, unsigned code);
    // The same for an end that has no result code (several targets: none logged in to).
    void SetOutcome(std::string stage, std::string result);
    // The link step of a stage code (10 x step + phase) as a stage word.
    static std::string StageWord(std::optional<fdp::Stage> stage);

    // The object, on one line; a stage not set follows from the exit code.
    std::string Json(int exitCode) const;
    // One line for a person: target, operation, result, exit code.
    std::string Summary(int exitCode) const;

private:
    std::chrono::steady_clock::time_point m_start;
    std::string m_operation, m_file, m_adapter, m_target, m_stage, m_result, m_fields;
    std::optional<std::string> m_sha256;
    std::map<std::string, std::string> m_versions;
    std::optional<unsigned> m_code;
    std::optional<std::string> m_versionAfter;
    bool m_versionAfterSet = false;
    std::vector<std::pair<std::string, std::string>> m_otherTargets;
    std::vector<fdp::HeardTarget> m_heardTargets;
    std::chrono::steady_clock::time_point m_heardAt;
};

}  // namespace cli
