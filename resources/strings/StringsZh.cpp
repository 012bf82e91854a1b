// Chinese string table, sorted by id; same ids as the English table.
#include <span>

#include "resources/strings/StringTable.h"

namespace res {

namespace {
constexpr StringEntry kChinese[] = {
    {0, ""},
};
}  // namespace

std::span<const StringEntry> ChineseStrings() { return std::span(kChinese).subspan(1); }

}  // namespace res
