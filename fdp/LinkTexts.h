// The words the link's results are told in, in the language of the string tables: a
// result, a stage, the status line a stage report sets, and what the target was left
// doing when the adapter went away. Any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "fdp/Stage.h"

namespace fdp {

// The text of an FdpResult (one text for every result not named).
std::string ResultText(unsigned result);
// The text of a stage (an ended stage without its result).
std::string StageText(Stage stage);
// The status text a stage report sets: the stage's text (with the result at a step's
// end), or the stopped text for a failure (with the file error for a file that could not
// be read while transferring).
std::string ReportStatusText(Stage stage, unsigned result);
// The words for a step that ended because the adapter went away: the adapter's name and
// what the target was left doing at that stage (nothing: a request that is no download).
std::string AdapterLostText(const std::string& adapter, std::optional<Stage> stage);
// The name of a flash area: boot, program, param.
std::string KindName(std::uint8_t kind);

}  // namespace fdp
