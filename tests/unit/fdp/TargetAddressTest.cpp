// The address a user gives with --target.
#include <gtest/gtest.h>

#include "fdp/TargetAddress.h"

namespace fdp::test {
namespace {

struct AddressCase {
    const char* text;
    bool valid;
    MacAddress bytes;
};

class TargetAddressTest : public ::testing::TestWithParam<AddressCase> {};

TEST_P(TargetAddressTest, ParsesColonsOrDashesInAnyCaseAndRefusesTheRest) {
    const AddressCase& c = GetParam();
    const auto parsed = ParseTargetAddress(c.text);
    ASSERT_EQ(parsed.has_value(), c.valid) << c.text;
    if (c.valid) {
        EXPECT_EQ(*parsed, c.bytes) << c.text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TargetAddressTest,
    ::testing::Values(AddressCase{"02:4b:56:00:00:12", true, {0x02, 0x4B, 0x56, 0x00, 0x00, 0x12}},
                      AddressCase{"02-4B-56-00-00-12", true, {0x02, 0x4B, 0x56, 0x00, 0x00, 0x12}},
                      AddressCase{"aA:Bb:cC:dD:eE:fF", true, {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}},
                      AddressCase{"00:00:00:00:00:00", true, {}},
                      AddressCase{"02:4b:56-00:00:12", false, {}},   // mixed separators
                      AddressCase{"02:4b:56:00:00:1", false, {}},    // a digit short
                      AddressCase{"02:4b:56:00:00:123", false, {}},  // a digit too many
                      AddressCase{"02:4b:56:00:00:1g", false, {}},   // not hexadecimal
                      AddressCase{"024b:56:00:00:12:", false, {}},
                      AddressCase{"02.4b.56.00.00.12", false, {}},
                      AddressCase{"024b5600001200000", false, {}},
                      AddressCase{"", false, {}},
                      AddressCase{" 02:4b:56:00:00:1", false, {}}));

}  // namespace
}  // namespace fdp::test
