#include "fdp/HistoryRecordJson.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <type_traits>
#include <variant>

#include <nlohmann/json.hpp>

namespace fdp {

namespace {

using Text = std::string HistoryRecord::*;
using Count = std::uint64_t HistoryRecord::*;
using Code = unsigned HistoryRecord::*;

struct Member {
    const char* name;
    std::variant<Text, Count, Code> field;
    // A parameter block holds the login password, and its hash would let anyone who
    // reads the history try passwords offline: parameters name their fields instead, and
    // a line carries only the one of the two that applies.
    bool onlyWhenSet = false;
};

// The line's members in the order they are written.
const Member kMembers[] = {
    {"time", &HistoryRecord::time},
    {"adapter", &HistoryRecord::adapter},
    {"target", &HistoryRecord::target},
    {"task", &HistoryRecord::task},
    {"kind", &HistoryRecord::kind},
    {"file", &HistoryRecord::file},
    {"size", &HistoryRecord::size},
    {"sha256", &HistoryRecord::sha256, true},
    {"fields", &HistoryRecord::fields, true},
    {"fileVersion", &HistoryRecord::fileVersion},
    {"targetVersion", &HistoryRecord::targetVersion},
    {"versionAfter", &HistoryRecord::versionAfter, true},
    {"stageCode", &HistoryRecord::stageCode},
    {"stage", &HistoryRecord::stage},
    {"resultCode", &HistoryRecord::resultCode},
    {"result", &HistoryRecord::result},
    {"durationMs", &HistoryRecord::durationMs},
};

}  // namespace

nlohmann::ordered_json HistoryRecordToJson(const HistoryRecord& record) {
    auto object = nlohmann::ordered_json::object();
    for (const Member& member : kMembers) {
        std::visit(
            [&](auto field) {
                const auto& value = record.*field;
                if constexpr (std::is_same_v<std::decay_t<decltype(value)>, std::string>) {
                    if (member.onlyWhenSet && value.empty()) return;
                }
                object[member.name] = value;
            },
            member.field);
    }
    return object;
}

std::optional<HistoryRecord> HistoryRecordFromJson(const nlohmann::ordered_json& object) {
    if (!object.is_object()) return std::nullopt;
    HistoryRecord record;
    bool hasTime = false;
    for (auto item = object.begin(); item != object.end(); ++item) {
        const std::string& name = item.key();
        const nlohmann::ordered_json& value = item.value();
        if (!value.is_string() && !value.is_number_unsigned()) return std::nullopt;
        const auto* member = std::find_if(std::begin(kMembers), std::end(kMembers),
                                          [&](const Member& m) { return name == m.name; });
        if (member == std::end(kMembers)) continue;   // a later version's
        std::visit(
            [&](auto field) {
                auto& target = record.*field;
                using Field = std::decay_t<decltype(target)>;
                if constexpr (std::is_same_v<Field, std::string>) {
                    if (!value.is_string()) return;
                    target = value.template get_ref<const std::string&>();
                    hasTime = hasTime || std::strcmp(member->name, "time") == 0;
                } else {
                    if (!value.is_number_unsigned()) return;
                    const auto count = value.template get<std::uint64_t>();
                    target = static_cast<Field>(std::min<std::uint64_t>(count, std::numeric_limits<Field>::max()));
                }
            },
            member->field);
    }
    if (!hasTime) return std::nullopt;
    return record;
}

}  // namespace fdp
