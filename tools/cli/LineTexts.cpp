#include "tools/cli/LineTexts.h"

#include "resources/strings/StringTable.h"

namespace cli {

namespace {

bool Chinese() { return res::CurrentLanguage() == res::Language::Chinese; }

}  // namespace

std::string AlreadyHasText(const std::string& version) {
    return (Chinese() ? "设备已是版本 " : "already has ") + version;
}

std::string StartedText(const std::string& operation) { return (Chinese() ? "开始 " : "started ") + operation; }

std::string ServedAgainText(const std::string& target, const std::string& reported, const std::string& file) {
    return Chinese() ? target + "  烧写后报告版本 " + reported + "，不是文件的 " + file + "：再次更新"
                     : target + "  reported " + reported + " after its burn, not the file's " + file + ": served again";
}

}  // namespace cli
