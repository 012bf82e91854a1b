// Whole numbers typed on a command line (kelvane, kelvane-cli, the simulator), read the
// one way: digits only, with std::from_chars. A sign, a space, an exponent, a trailing
// letter or an empty text is no number; a number beyond what 64 bits hold is out of
// range, never an exception and never cut down to fit.
#pragma once

#include <cstdint>
#include <string_view>
#include <system_error>

namespace fdp {

enum class NumberBase {
    Decimal,        // "010" is ten
    DecimalOrHex,   // and 0x/0X then hexadecimal digits ("0x3f"); for the simulator's bytes and words
};

// The outcome of ReadWholeNumber: value is set only when error is std::errc{}.
// std::errc::invalid_argument: the text is no number; std::errc::result_out_of_range: a
// number below min or above max.
struct WholeNumber {
    std::uint64_t value = 0;
    std::errc error = std::errc::invalid_argument;

    explicit operator bool() const { return error == std::errc{}; }
};

WholeNumber ReadWholeNumber(std::string_view text, std::uint64_t min, std::uint64_t max,
                            NumberBase base = NumberBase::Decimal);

}  // namespace fdp
