// A text as a JSON string, for the lines the program writes for scripts and for itself
// (kelvane-cli --json, the update history).
#pragma once

#include <string>
#include <string_view>

namespace fdp {

// Quoted and escaped; control characters as \u00XX. Bytes that are no UTF-8 (a file
// name may hold any) become U+FFFD, so that the result is valid JSON for any reader.
std::string JsonString(std::string_view text);

}  // namespace fdp
