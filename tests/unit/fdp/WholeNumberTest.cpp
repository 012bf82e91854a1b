// The command lines' one number reader: what a user may type, and every way a number
// can be wrong, each told apart as "no number" or "out of range".
#include <gtest/gtest.h>

#include <cstdint>
#include <system_error>

#include "fdp/WholeNumber.h"

namespace fdp {
namespace {

constexpr std::uint64_t kMax = UINT64_MAX;

struct NumberCase {
    const char* text;
    std::uint64_t min, max;
    NumberBase base;
    std::errc error;
    std::uint64_t value;   // when error is std::errc{}
};

const NumberCase kCases[] = {
    {"0", 0, kMax, NumberBase::Decimal, {}, 0},
    {"100", 0, 100, NumberBase::Decimal, {}, 100},
    {"010", 0, 100, NumberBase::Decimal, {}, 10},   // decimal, not octal
    {"18446744073709551615", 0, kMax, NumberBase::Decimal, {}, kMax},
    // Beyond 64 bits: out of range, not an exception or a wrap-around to 0.
    {"18446744073709551616", 0, kMax, NumberBase::Decimal, std::errc::result_out_of_range, 0},
    {"99999999999999999999999", 1, 5, NumberBase::Decimal, std::errc::result_out_of_range, 0},
    {"101", 0, 100, NumberBase::Decimal, std::errc::result_out_of_range, 0},
    {"0", 1, 100, NumberBase::Decimal, std::errc::result_out_of_range, 0},
    // No number at all.
    {"", 0, kMax, NumberBase::Decimal, std::errc::invalid_argument, 0},
    {"-1", 0, kMax, NumberBase::Decimal, std::errc::invalid_argument, 0},
    {"+1", 0, kMax, NumberBase::Decimal, std::errc::invalid_argument, 0},
    {" 1", 0, kMax, NumberBase::Decimal, std::errc::invalid_argument, 0},
    {"1 ", 0, kMax, NumberBase::Decimal, std::errc::invalid_argument, 0},
    {"1e3", 0, kMax, NumberBase::Decimal, std::errc::invalid_argument, 0},
    {"1.0", 0, kMax, NumberBase::Decimal, std::errc::invalid_argument, 0},
    {"12ms", 0, kMax, NumberBase::Decimal, std::errc::invalid_argument, 0},
    {"0x10", 0, kMax, NumberBase::Decimal, std::errc::invalid_argument, 0},
    {"184467440737095516160x", 0, kMax, NumberBase::Decimal, std::errc::invalid_argument, 0},
    // The simulator's bytes and words may be written in hexadecimal.
    {"0x3f", 0, 255, NumberBase::DecimalOrHex, {}, 0x3f},
    {"0XFFFFFFFF", 0, 0xFFFFFFFF, NumberBase::DecimalOrHex, {}, 0xFFFFFFFF},
    {"010", 0, 255, NumberBase::DecimalOrHex, {}, 10},
    {"0x100", 0, 255, NumberBase::DecimalOrHex, std::errc::result_out_of_range, 0},
    {"0x10000000000000000", 0, kMax, NumberBase::DecimalOrHex, std::errc::result_out_of_range, 0},
    {"0x", 0, kMax, NumberBase::DecimalOrHex, std::errc::invalid_argument, 0},
    {"0x-1", 0, kMax, NumberBase::DecimalOrHex, std::errc::invalid_argument, 0},
    {"0x+1", 0, kMax, NumberBase::DecimalOrHex, std::errc::invalid_argument, 0},
    {"0xg", 0, kMax, NumberBase::DecimalOrHex, std::errc::invalid_argument, 0},
};

class WholeNumberTest : public testing::TestWithParam<NumberCase> {};

TEST_P(WholeNumberTest, ReadsOnlyDigitsInRange) {
    const NumberCase& c = GetParam();
    const WholeNumber number = ReadWholeNumber(c.text, c.min, c.max, c.base);
    EXPECT_EQ(number.error, c.error) << '"' << c.text << '"';
    EXPECT_EQ(static_cast<bool>(number), c.error == std::errc{});
    if (number) {
        EXPECT_EQ(number.value, c.value) << '"' << c.text << '"';
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, WholeNumberTest, testing::ValuesIn(kCases));

}  // namespace
}  // namespace fdp
