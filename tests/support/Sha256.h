// The tests' names for the core's SHA-256.
#pragma once

#include "fdp/Sha256.h"

namespace fdp::test {

using fdp::Sha256File;
using fdp::Sha256Hex;

}  // namespace fdp::test
