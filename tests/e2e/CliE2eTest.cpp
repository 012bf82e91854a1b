// kelvane-cli run as a program against the simulator: its texts and exit codes.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/e2e/Bench.h"
#include "tests/support/Sha256.h"

namespace e2e {
namespace {

struct CliRun {
    int exitCode = -1;
    std::string output;
};

struct CliCase {
    const char* name;
    std::vector<std::string> simOptions;
    std::string arguments;          // after --password and --folder; IMAGE and OUT name files of the test
    int exitCode;
    std::vector<std::string> lines;  // each must appear in the output
};

class CliE2eTest : public ::testing::TestWithParam<CliCase> {
protected:
    void SetUp() override {
        if (const auto problem = BenchProblem()) {
            if (std::getenv("CI")) FAIL() << "bench not usable: " << *problem;
            GTEST_SKIP() << *problem;
        }
    }

    CliRun Run(std::string arguments) {
        for (const auto& [name, path] : {std::pair{"IMAGE", folder / "image.bin"}, std::pair{"OUT", folder / "out.bin"}})
            if (const auto at = arguments.find(name); at != std::string::npos) arguments.replace(at, std::strlen(name), path);
        const std::string command = std::string(KELVANE_BIN_DIR) + "/kelvane-cli --no-progress --interface " +
                                    kPcInterface + " --folder " + folder.Path() + " " + arguments + " 2>&1";
        CliRun run;
        FILE* pipe = ::popen(command.c_str(), "r");
        if (!pipe) return run;
        char chunk[512];
        while (const std::size_t n = std::fread(chunk, 1, sizeof chunk, pipe)) run.output.append(chunk, n);
        const int status = ::pclose(pipe);
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return run;
    }

    TempDir folder;
    SimProcess sim;
};

TEST_P(CliE2eTest, PrintsTheWizardsTextsAndTellsTheOutcome) {
    const CliCase& c = GetParam();
    const auto image = RandomBytes(5000, 7);
    ASSERT_TRUE(WriteBytes(folder / "image.bin", image));
    ASSERT_TRUE(sim.Start(folder.Path(), c.simOptions)) << sim.Error();
    const CliRun run = Run(c.arguments);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
    for (const std::string& line : c.lines) EXPECT_NE(run.output.find(line + "\n"), std::string::npos) << line << "\n" << run.output;
    if (c.exitCode == 0 && c.arguments.starts_with("--password kiwi download")) {
        EXPECT_EQ(fdp::test::Sha256File(sim.StatePath("boot.bin")), fdp::test::Sha256Hex(image));
    }
    EXPECT_TRUE(sim.Stop());
}

INSTANTIATE_TEST_SUITE_P(
    Operations, CliE2eTest,
    ::testing::Values(
        CliCase{"DownloadBurnt", {}, "--password kiwi download boot IMAGE", 0,
                {"Connected with: 02:4b:56:00:00:02", "In transferring data...", "Start to erase boot area!",
                 "Start to burn boot area!", "Burn boot area successfully!", "Operation has been committed successfully!"}},
        CliCase{"WrongPassword", {}, "--password pear version boot", 21, {"Connect Failed"}},
        CliCase{"EraseFails", {"--erase-status", "1"}, "--password kiwi download boot IMAGE", 41,
                {"Downlaod progress has been stopped, pleas click \"next\" to try again!",
                 "Operation failed, please try again!"}},
        CliCase{"Version", {"--boot-version", "1.2.3.4"}, "--password kiwi version boot", 0, {"boot version: 1.2.3.4"}},
        CliCase{"Params", {}, "--password kiwi params OUT", 0, {"Get parameters from target successfully!"}},
        CliCase{"Diagnose", {"--diagnose", "0x3b"}, "--password kiwi diagnose", 41, {"RAM failed!", "UART is ok!"}},
        CliCase{"BadUsage", {}, "--password kiwi download flash IMAGE", 1, {}}),
    [](const ::testing::TestParamInfo<CliCase>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace e2e
