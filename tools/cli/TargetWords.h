// The words of an operation that serves many targets, made each target's own: in a
// name, an OUT file or a value, %a stands for the target's address without separators
// (024b56000101), %s for its last six hexadecimal digits (000101) and %% for a percent
// sign. Any other % stays as written, so a password that holds one is sent unchanged.
#pragma once

#include <string>
#include <string_view>

#include "fdp/FrameCodec.h"

namespace cli {

std::string ExpandTargetWord(std::string_view word, const fdp::MacAddress& address);

}  // namespace cli
