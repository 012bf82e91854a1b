#include "tools/cli/TargetWords.h"

namespace cli {

std::string ExpandTargetWord(std::string_view word, const fdp::MacAddress& address) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const std::uint8_t byte : address) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0F];
    }
    std::string out;
    out.reserve(word.size());
    for (std::size_t i = 0; i < word.size(); ++i) {
        const char next = i + 1 < word.size() ? word[i + 1] : '\0';
        if (word[i] == '%' && (next == 'a' || next == 's' || next == '%')) {
            out += next == 'a' ? hex : next == 's' ? hex.substr(6) : std::string("%");
            ++i;
        } else {
            out += word[i];
        }
    }
    return out;
}

}  // namespace cli
