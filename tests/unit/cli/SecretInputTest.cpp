#include "tools/cli/SecretInput.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>
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

// Standard input on a terminal: the test plays the keyboard on a pseudo-terminal whose
// other side is the tool's standard input and its prompt output.
class TerminalTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::openpty(&m_master, &m_slave, nullptr, nullptr, nullptr), 0);
        m_in = ::fdopen(::dup(m_slave), "r");
        m_prompts = ::fdopen(::dup(m_slave), "w");
        ASSERT_TRUE(m_in && m_prompts);
    }
    void TearDown() override {
        if (m_typist.joinable()) m_typist.join();
        if (m_in) std::fclose(m_in);
        if (m_prompts) std::fclose(m_prompts);
        ::close(m_slave);
        ::close(m_master);
    }
    termios Modes() const {
        termios modes{};
        ::tcgetattr(m_slave, &modes);
        return modes;
    }
    // Types each text once the terminal no longer echoes, as a person answering
    // successive prompts would.
    void Type(std::vector<std::string> texts) {
        m_typist = std::thread([this, texts = std::move(texts)] {
            for (const std::string& text : texts) {
                for (int i = 0; i < 500 && (Modes().c_lflag & ECHO); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
                if (::write(m_master, text.data(), text.size()) < 0) return;
                // The next answer waits for the next read's quiet terminal.
                for (int i = 0; i < 500 && !(Modes().c_lflag & ECHO); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    }
    // What the terminal shows: the prompts and any echo.
    std::string Screen() {
        std::string shown;
        pollfd ready{m_master, POLLIN, 0};
        char buffer[256];
        while (::poll(&ready, 1, 50) > 0) {
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n <= 0) break;
            shown.append(buffer, static_cast<std::size_t>(n));
        }
        return shown;
    }

    int m_master = -1;
    int m_slave = -1;
    std::FILE* m_in = nullptr;
    std::FILE* m_prompts = nullptr;
    std::thread m_typist;
};

struct TerminalCase {
    const char* name;
    std::vector<std::string> typed;     // one text per prompt
    bool confirm;
    std::optional<std::string> expected;
    bool interrupted;
    const char* errorPart;
};

class TerminalCases : public TerminalTest, public ::testing::WithParamInterface<TerminalCase> {};

TEST_P(TerminalCases, ReadsWithoutEchoAndPutsTheTerminalBack) {
    const TerminalCase& c = GetParam();
    const termios before = Modes();
    ASSERT_TRUE(before.c_lflag & ECHO);
    Type(c.typed);
    CSecretInput secrets(m_in, m_prompts);
    std::string error;
    const auto got = secrets.Resolve("-", std::nullopt, kVariable, std::nullopt, error, "Password: ", c.confirm);
    m_typist.join();
    EXPECT_EQ(got, c.expected) << error;
    EXPECT_EQ(secrets.Interrupted(), c.interrupted);
    if (!c.expected) {
        EXPECT_NE(error.find(c.errorPart), std::string::npos) << error;
    }
    const termios after = Modes();
    EXPECT_EQ(after.c_lflag, before.c_lflag) << "echo, line editing and Ctrl-C as they were";
    const std::string screen = Screen();
    EXPECT_NE(screen.find("Password: "), std::string::npos) << screen;
    for (const char* secret : {"kiwi", "plum", "pear"})
        EXPECT_EQ(screen.find(secret), std::string::npos) << "echoed: " << screen;
}

INSTANTIATE_TEST_SUITE_P(
    Keys, TerminalCases,
    ::testing::Values(
        TerminalCase{"Enter", {"kiwi\r"}, false, "kiwi", false, ""},
        TerminalCase{"LineFeed", {"kiwi\n"}, false, "kiwi", false, ""},
        TerminalCase{"Backspace", {"kiwj\x7fi\n"}, false, "kiwi", false, ""},
        TerminalCase{"BackspaceOverAWideCharacter", {"ki\xc3\xa9\x7fwi\n"}, false, "kiwi", false, ""},
        TerminalCase{"EmptyLine", {"\n"}, false, "", false, ""},
        TerminalCase{"CtrlC", {"kiw\x03"}, false, std::nullopt, true, "interrupted"},
        TerminalCase{"CtrlD", {"\x04"}, false, std::nullopt, false, "no password"},
        TerminalCase{"ConfirmedTwice", {"plum\n", "plum\n"}, true, "plum", false, ""},
        TerminalCase{"SecondAnswerDiffers", {"plum\n", "pear\n"}, true, std::nullopt, false,
                     "Sorry, passwords do not match. Please input them again."},
        TerminalCase{"CtrlCAtTheSecondPrompt", {"plum\n", "\x03"}, true, std::nullopt, true, "interrupted"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// The same from a file named "-": --new-password-file - reads the terminal too.
TEST_F(TerminalTest, TheFileDashIsStandardInput) {
    Type({"plum\n", "plum\n"});
    CSecretInput secrets(m_in, m_prompts);
    std::string error;
    EXPECT_EQ(secrets.Resolve(std::nullopt, std::string("-"), kVariable, std::nullopt, error, "New password: ", true),
              "plum")
        << error;
}

}  // namespace
