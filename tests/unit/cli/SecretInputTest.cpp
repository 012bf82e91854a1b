#include "tools/cli/SecretInput.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <memory>

#include "tests/unit/param/ScratchDir.h"

namespace {

using cli::CSecretInput;
using kelvane_test::ScratchDir;
namespace fs = std::filesystem;

constexpr const char* kVariable = "KELVANE_TEST_SECRET";

struct SecretCase {
    const char* name;
    std::optional<std::string> value;
    const char* fileText;   // nullptr: no --password-file; "MISSING": a file that is not there
    const char* stdinText;
    const char* environment;
    std::optional<std::string> fallback;
    std::optional<std::string> expected;   // nothing: an error naming errorPart
    const char* errorPart = "";
};

class SecretInputTest : public testing::TestWithParam<SecretCase> {};

TEST_P(SecretInputTest, TakesThePasswordFromItsSource) {
    const SecretCase& c = GetParam();
    ScratchDir dir;
    std::optional<std::string> file;
    if (c.fileText) {
        file = (dir / "secret").string();
        if (std::string(c.fileText) != "MISSING")
            kelvane_test::WriteFile(*file, std::vector<std::uint8_t>(c.fileText, c.fileText + std::strlen(c.fileText)));
    }
    std::string input = c.stdinText;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(::fmemopen(input.data(), input.size(), "r"), std::fclose);
    if (input.empty()) in.reset(std::fopen("/dev/null", "r"));
    if (c.environment) ::setenv(kVariable, c.environment, 1);
    else ::unsetenv(kVariable);

    CSecretInput secrets(in.get());
    std::string error;
    const auto got = secrets.Resolve(c.value, file, kVariable, c.fallback, error);
    ::unsetenv(kVariable);
    EXPECT_EQ(got, c.expected) << error;
    if (!c.expected) {
        EXPECT_NE(error.find(c.errorPart), std::string::npos) << error;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sources, SecretInputTest,
    testing::Values(
        SecretCase{"CommandLine", "pear", nullptr, "", "env", "4826", "pear"},
        SecretCase{"StandardInput", "-", nullptr, "kiwi\nother\n", "env", "4826", "kiwi"},
        SecretCase{"StandardInputCrLf", "-", nullptr, "kiwi\r\n", nullptr, std::nullopt, "kiwi"},
        SecretCase{"StandardInputWithoutLineEnd", "-", nullptr, "kiwi", nullptr, std::nullopt, "kiwi"},
        SecretCase{"StandardInputEmpty", "-", nullptr, "", nullptr, "4826", std::nullopt, "standard input"},
        // An empty line is an empty password, not a missing one.
        SecretCase{"StandardInputEmptyLine", "-", nullptr, "\n", nullptr, "4826", ""},
        SecretCase{"FileFirstLine", std::nullopt, "plum\nrest\n", "", "env", "4826", "plum"},
        SecretCase{"FileMissing", std::nullopt, "MISSING", "", "env", "4826", std::nullopt, "cannot read"},
        SecretCase{"FileEmpty", std::nullopt, "", "", "env", "4826", std::nullopt, "is empty"},
        SecretCase{"FileAndValue", "pear", "plum\n", "", nullptr, "4826", std::nullopt, "not both"},
        SecretCase{"Environment", std::nullopt, nullptr, "", "fig", "4826", "fig"},
        SecretCase{"Fallback", std::nullopt, nullptr, "", nullptr, "4826", "4826"},
        SecretCase{"NothingGiven", std::nullopt, nullptr, "", nullptr, std::nullopt, std::nullopt, kVariable}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// The login password and the new one both from standard input: one line each, in order.
TEST(SecretInputTest, SuccessiveDashesReadSuccessiveLines) {
    std::string input = "old\nnew\n";
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(::fmemopen(input.data(), input.size(), "r"), std::fclose);
    CSecretInput secrets(in.get());
    std::string error;
    EXPECT_EQ(secrets.Resolve("-", std::nullopt, kVariable, std::nullopt, error), "old");
    EXPECT_EQ(secrets.Resolve("-", std::nullopt, kVariable, std::nullopt, error), "new");
}

TEST(SecretInputTest, WarnsOfAPasswordFileOthersMayRead) {
    ScratchDir dir;
    const fs::path file = dir / "secret";
    kelvane_test::WriteFile(file, {'k'});
    fs::permissions(file, fs::perms(0644));
    EXPECT_NE(CSecretInput::ExposureWarning(file.string()).find("chmod 600"), std::string::npos);
    fs::permissions(file, fs::perms(0600));
    EXPECT_EQ(CSecretInput::ExposureWarning(file.string()), "");
}

}  // namespace
