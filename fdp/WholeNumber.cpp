#include "fdp/WholeNumber.h"

#include <charconv>

namespace fdp {

WholeNumber ReadWholeNumber(std::string_view text, std::uint64_t min, std::uint64_t max, NumberBase base) {
    WholeNumber number;
    int radix = 10;
    if (base == NumberBase::DecimalOrHex && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        radix = 16;
    }
    // from_chars takes no '+' and, for an unsigned type, no '-'; it may still stop early
    // ("1e3", "12ms"), which makes the whole text no number.
    const char* const end = text.data() + text.size();
    std::uint64_t value = 0;
    const auto [stop, error] = std::from_chars(text.data(), end, value, radix);
    if (error == std::errc::result_out_of_range && stop == end) {
        number.error = error;
    } else if (error != std::errc{} || stop != end) {
        number.error = std::errc::invalid_argument;
    } else if (value < min || value > max) {
        number.error = std::errc::result_out_of_range;
    } else {
        number = {value, std::errc{}};
    }
    return number;
}

}  // namespace fdp
