// kelvane-cli's flash operations: download boot|program|param FILE, check FILE and
// erase boot|program|param.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tools/cli/CliRun.h"

namespace cli {

class CCliLink;

int RunDownload(CliRun& run);
int RunCheck(CliRun& run);
int RunErase(CliRun& run);

// Once logged in: transfers the file into the area, which the target erases and burns
// (task: the history's name for it). Nothing when it was burnt, else the exit code.
std::optional<int> DownloadArea(CCliLink& link, CliRun& run, const std::string& task, std::uint8_t kind,
                                const std::string& path, std::uint64_t fileSize);

}  // namespace cli
