// A JSON value as the program writes it for scripts and for itself (kelvane-cli --json,
// the update history): on one line, UTF-8 kept as it is, and valid JSON for any reader
// whatever bytes a file name or an adapter name holds.
#pragma once

#include <string>

#include <nlohmann/json_fwd.hpp>

namespace fdp {

// Compact, no line end. Bytes that are no UTF-8 become U+FFFD instead of an exception:
// no name the program is handed may end it.
std::string JsonLine(const nlohmann::ordered_json& value);

}  // namespace fdp
