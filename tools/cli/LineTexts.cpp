#include "tools/cli/LineTexts.h"

#include "resources/strings/StringTable.h"

namespace cli {

std::string AlreadyHasText(const std::string& version) { return res::Text("already has ") + version; }

std::string StartedText(const std::string& operation) { return res::Text("started ") + operation; }

std::string ServedAgainText(const std::string& target, const std::string& reported, const std::string& file) {
    return res::FormatText("%1  reported %2 after its burn, not the file's %3: served again", {target, reported, file});
}

}  // namespace cli
