// A download's history record as the JSON object of its line in history.jsonl, and back.
// The member names and their order are the file's format: the lines earlier versions
// wrote must still read, and scripts read the file too.
#pragma once

#include <optional>

#include <nlohmann/json_fwd.hpp>

#include "fdp/UpdateHistory.h"

namespace fdp {

// Every member in the file's order; sha256, fields and versionAfter only when not empty.
nlohmann::ordered_json HistoryRecordToJson(const HistoryRecord& record);

// The record an object holds, or nothing when it holds none: not an object, a value
// that is neither a string nor a count (0 to 2^64-1), or no time. Members of a later
// version are passed over; a known member with a value of the other kind keeps its
// default. Never throws.
std::optional<HistoryRecord> HistoryRecordFromJson(const nlohmann::ordered_json& object);

}  // namespace fdp
