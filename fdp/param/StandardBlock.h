// The built-in parameter block: 91 rows (ids 1-63, then the seven access control
// records 101-128), their default values and descriptions, version text "2.0.0.0".
// It is what a fresh store holds and what param.jdp and default.jdp start from.
#pragma once

#include "fdp/param/ParamBlock.h"

namespace param {

inline constexpr int kStandardRowCount = 91;
inline constexpr std::size_t kStandardImageUsed = 1647;

ParamBlock MakeStandardBlock();

}  // namespace param
