// The production line's own words, in the user's language.
#pragma once

#include <string>

namespace cli {

// A target that runs the file's version already: skipped, not refused.
std::string AlreadyHasText(const std::string& version);
// A target's run begins: "started download".
std::string StartedText(const std::string& operation);
// A target back after its burn that did not report the file's version.
std::string ServedAgainText(const std::string& target, const std::string& reported, const std::string& file);

}  // namespace cli
