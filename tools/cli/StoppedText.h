// What kelvane-cli says the target was left doing when Ctrl-C or SIGTERM stopped a run.
#pragma once

#include <cstdint>
#include <string>

namespace cli {

// What the run was doing when Ctrl-C or SIGTERM came.
enum class Stopped { Listening, Download, Erase, Request };

// In the user's language. step: the stage word of the step under way ("transfer",
// "erase", "burn", ...); kind: the flash area the operation is about.
std::string StoppedText(Stopped during, const std::string& step, std::uint8_t kind);

}  // namespace cli
