// kelvane-cli run as a program against the simulator: its texts and exit codes.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <filesystem>
#include <map>
#include <memory>

#include "fdp/FirmwareFile.h"
#include "fdp/Sha256.h"
#include "fdp/param/ParamStore.h"
#include "tests/e2e/Bench.h"

namespace e2e {
namespace {

struct CliRun {
    int exitCode = -1;
    std::string output;
};

struct CliCase {
    const char* name;
    std::vector<std::string> simOptions;
    std::string arguments;          // after --password and --folder; IMAGE (a boot image, version
                                    // 9.0.0.1), JUNK (5000 bytes that are no firmware), MISSING, OUT,
                                    // FIFO and FOLDER name files of the test
    int exitCode;
    std::vector<std::string> lines;  // each must appear in the output
    int maxSeconds = 0;              // the whole run, login included, ends within this; 0 any time
};

class CliE2eTest : public ::testing::TestWithParam<CliCase> {
protected:
    void SetUp() override {
        KELVANE_NEED_BENCH();
    }

    CliRun Run(std::string arguments) {
        for (const auto& [name, path] : {std::pair{"IMAGE", folder / "image.bin"}, std::pair{"OUT", folder / "out.bin"},
                                         std::pair{"JUNK", folder / "junk.bin"}, std::pair{"MISSING", folder / "missing.bin"},
                                         std::pair{"FIFO", folder / "pipe"}, std::pair{"FOLDER", folder / "sub"}})
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
    const auto image = fdp::MakeSampleFirmware(5000, fdp::FirmwareVersion{9, 0, 0, 1});
    ASSERT_TRUE(WriteBytes(folder / "image.bin", image));
    ASSERT_TRUE(WriteBytes(folder / "junk.bin", RandomBytes(5000, 7)));
    ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
    ASSERT_EQ(::mkdir((folder / "sub").c_str(), 0700), 0);
    ASSERT_TRUE(sim.Start(folder.Path(), c.simOptions)) << sim.Error();
    const auto began = std::chrono::steady_clock::now();
    const CliRun run = Run(c.arguments);
    const auto took = std::chrono::steady_clock::now() - began;
    EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
    if (c.maxSeconds) {
        EXPECT_LT(took, std::chrono::seconds(c.maxSeconds)) << run.output;
    }
    // A file refused before the link opens: nothing was sent for it.
    if (c.exitCode == 3) {
        EXPECT_EQ(run.output.find("Adapter:"), std::string::npos) << run.output;
    }
    for (const std::string& line : c.lines) EXPECT_NE(run.output.find(line + "\n"), std::string::npos) << line << "\n" << run.output;
    if (c.exitCode == 0 && c.arguments.starts_with("--password kiwi download")) {
        EXPECT_EQ(fdp::Sha256File(sim.StatePath("boot.bin")), fdp::Sha256Hex(image));
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
        CliCase{"BadUsage", {}, "--password kiwi download flash IMAGE", 1, {}},
        // A target status without a message of its own is reported at once (the erase wait is 30 s).
        CliCase{"EraseStatusWithoutMessage", {"--erase-status", "5"}, "--password kiwi erase boot", 45,
                {"Erase boot area unkonwn error!"}, 2},
        // The same for a transfer (the transfer wait is 40 s).
        CliCase{"VersionStatusWithoutMessage", {"--transfer-status", "5"}, "--password kiwi version boot", 45,
                {"Transfer data to target unkonwn error!"}, 2},
        CliCase{"EraseReplyPastTheWait", {"--erase-delay-ms", "1500"}, "--password kiwi --flash-wait-ms 400 erase boot",
                43, {"Erase boot area time out!"}},
        CliCase{"DownloadOfADirectory", {}, "--password kiwi download program FOLDER", 3, {": Is a directory"}},
        CliCase{"DownloadOfAFifo", {}, "--password kiwi download boot FIFO", 3, {": not a regular file"}, 5},
        CliCase{"ParamsIntoADirectory", {}, "--password kiwi params FOLDER", 3, {": Is a directory"}},
        // The firmware file page's checks, before anything is sent; --force overrides
        // what the wizard would ask about.
        CliCase{"DownloadOfAMissingFile", {}, "--password kiwi download boot MISSING", 3,
                {"The file selected does not open correctly!", "Please select it again."}},
        CliCase{"DownloadOfNoFirmware", {}, "--password kiwi download boot JUNK", 6,
                {"The file selected doesn't look like the firmware!"}},
        CliCase{"DownloadOfABootSizedProgram", {}, "--password kiwi download program IMAGE", 6,
                {"The file selected doesn't look like PROGRAM firmware!"}},
        CliCase{"ForcedDownloadOfNoFirmware", {}, "--password kiwi --force download boot JUNK", 0,
                {"The file selected doesn't look like the firmware!", "Burn boot area successfully!"}},
        CliCase{"DownloadOfAnOlderVersion", {"--boot-version", "9.0.0.1"}, "--password kiwi download boot IMAGE", 6,
                {"file version: 9.0.0.1, target version: 9.0.0.1",
                 "The program version selected is lower than or equal to the version of target's. Do you insist on "
                 "downloading it?"}},
        CliCase{"ForcedDownloadOfAnOlderVersion", {"--boot-version", "9.1.0.0"},
                "--password kiwi --force download boot IMAGE", 0, {"Burn boot area successfully!"}},
        // A version the target does not give (here its answer ends with a failure status)
        // may be newer than the file: refused as an equal one, unless forced.
        CliCase{"DownloadWhenTheVersionCannotBeRead", {"--boot-version", "1.0.0.0", "--transfer-status", "5"},
                "--password kiwi download boot IMAGE", 6,
                {"file version: 9.0.0.1, target version: not read",
                 "The program version selected is lower than or equal to the version of target's. Do you insist on "
                 "downloading it?",
                 "Note: the target's version could not be read."}},
        CliCase{"ForcedDownloadWhenTheVersionCannotBeRead", {"--boot-version", "1.0.0.0", "--transfer-status", "5"},
                "--password kiwi --force download boot IMAGE", 0, {"Burn boot area successfully!"}},
        CliCase{"CheckOfAFirmwareFile", {}, "check IMAGE", 0,
                {"kind: boot (5000 bytes)", "signature: ok", "version: 9.0.0.1"}},
        CliCase{"CheckOfNoFirmware", {}, "check JUNK", 6, {"kind: boot (5000 bytes)", "signature: mismatch"}},
        CliCase{"CheckOfAMissingFile", {}, "check MISSING", 3, {"The file selected does not open correctly!"}}),
    [](const ::testing::TestParamInfo<CliCase>& p) { return std::string(p.param.name); });

// The name and password task end to end: the block the target burns carries the new
// values, and from then on only the new password logs in.
TEST_F(CliE2eTest, SetNamePasswordChangesTheTargetsLogin) {
    for (const char* name : {"param.jdp", "default.jdp"})
        std::filesystem::copy_file(std::string(KELVANE_BIN_DIR) + "/" + name, folder / name);
    ASSERT_TRUE(sim.Start(folder.Path(), {})) << sim.Error();
    const auto before = fdp::Sha256File(folder / "param.jdp");

    // Refused before anything is sent: the working file stays as it was.
    CliRun run = Run("--password kiwi set-name-password NAP 0123456789abcdefg");
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("the password has 17 bytes"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("Adapter:"), std::string::npos) << run.output;
    EXPECT_EQ(fdp::Sha256File(folder / "param.jdp"), before);

    run = Run("--password kiwi set-name-password 'Shop NAP' melon");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("Operation has been committed successfully!"), std::string::npos) << run.output;

    param::CParamStore burnt;
    burnt.Init(sim.StatePath("param.bin"), {});
    ASSERT_TRUE(burnt.LoadParam());
    // Parameter 8 the name, 3 the password, 12 the change mask with bits 29 and 28.
    EXPECT_EQ(burnt.GetString(8), "Shop NAP");
    EXPECT_EQ(burnt.GetString(3), "melon");
    EXPECT_EQ(burnt.GetDword(12), 0x30000000u);
    EXPECT_EQ(fdp::Sha256File(sim.StatePath("param.bin")), fdp::Sha256File(folder / "param.jdp"));

    EXPECT_EQ(Run("--password kiwi params OUT").exitCode, 21);
    run = Run("--password melon params OUT");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(fdp::Sha256File(folder / "out.bin"), fdp::Sha256File(sim.StatePath("param.bin")));
    EXPECT_TRUE(sim.Stop());
}

// --pace-ms pauses after each acknowledged block: the target receives the five blocks of
// a 5000-byte image at least the pace apart (a block sent again counts once, when first
// received).
TEST_F(CliE2eTest, APacedDownloadSpacesItsBlocksByThePace) {
    ASSERT_TRUE(WriteBytes(folder / "image.bin", fdp::MakeSampleFirmware(5000, fdp::FirmwareVersion{9, 0, 0, 1})));
    ASSERT_TRUE(sim.Start(folder.Path(), {})) << sim.Error();
    const CliRun run = Run("--password kiwi --pace-ms 100 download boot IMAGE");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    std::map<long, double> firstSeen;   // block number: when the target first received it (ms)
    for (const std::string& line : sim.LogLines({"\"dir\":\"in\"", "\"block\":"})) {
        const auto number = [&line](const char* key) {
            const auto at = line.find(key);
            return at == std::string::npos ? -1.0 : std::strtod(line.c_str() + at + std::strlen(key), nullptr);
        };
        firstSeen.emplace(static_cast<long>(number("\"block\":")), number("\"t_ms\":"));
    }
    ASSERT_EQ(firstSeen.size(), 5u) << run.output;
    double previous = -1;
    for (const auto& [block, at] : firstSeen) {
        // The receive times carry the network's jitter; the pause is 100 ms.
        if (previous >= 0) {
            EXPECT_GE(at - previous, 95.0) << "block " << block;
        }
        previous = at;
    }
    EXPECT_GE(firstSeen.rbegin()->second - firstSeen.begin()->second, 4 * 100.0 - 5.0);
    EXPECT_TRUE(sim.Stop());
}

// The network and register tasks download the block they built: the target burns the
// values and masks the wizard's pages would write.
TEST_F(CliE2eTest, SetNetworkAndRegisterBurnTheirValues) {
    for (const char* name : {"param.jdp", "default.jdp"})
        std::filesystem::copy_file(std::string(KELVANE_BIN_DIR) + "/" + name, folder / name);
    ASSERT_TRUE(sim.Start(folder.Path(), {})) << sim.Error();
    const auto burnt = [this] {
        auto store = std::make_unique<param::CParamStore>();
        store->Init(sim.StatePath("param.bin"), {});
        EXPECT_TRUE(store->LoadParam());
        return store;
    };

    CliRun run = Run("--password kiwi set-network 192.168.1.20/24,192.168.0.254,8.8.4.4");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    auto block = burnt();
    // 17 gateway, 18 DNS, 15 address, 16 mask, 25 NAT, 24 DHCP client, 12 the change mask.
    EXPECT_EQ(block->GetDword(17), 0xFE00A8C0u);   // C0 A8 00 FE
    EXPECT_EQ(block->GetDword(18), 0x04040808u);
    EXPECT_EQ(block->GetDword(15), 0x1401A8C0u);
    EXPECT_EQ(block->GetDword(16), 0x00FFFFFFu);
    EXPECT_EQ(block->GetByte(25), 1);
    EXPECT_EQ(block->GetByte(24), 0);
    EXPECT_EQ(block->GetDword(12), 0x0F030000u);

    run = Run("--password kiwi set-register '*21#' '#21#' sip.example 12 " + std::string(32, '9'));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    block = burnt();
    EXPECT_EQ(block->GetString(59), "*21#");
    EXPECT_EQ(block->GetString(63), std::string(32, '9'));
    EXPECT_EQ(block->GetDword(58), 0x1Fu);
    EXPECT_EQ(block->GetDword(12), 0u);
    EXPECT_TRUE(sim.Stop());
}

// A parameter task that fails on its way leaves param.jdp as it was, and leaves nothing
// beside it: the next run starts from what the target really holds. The one that
// succeeds moves the block it sent over param.jdp.
TEST_F(CliE2eTest, AFailedParameterTaskLeavesParamJdpAsItWas) {
    for (const char* name : {"param.jdp", "default.jdp"})
        std::filesystem::copy_file(std::string(KELVANE_BIN_DIR) + "/" + name, folder / name);
    // The first download's burn fails with status 8; later ones succeed.
    ASSERT_TRUE(sim.Start(folder.Path(), {"--burn-status", "8", "--fault-downloads", "1"})) << sim.Error();
    const auto before = fdp::Sha256File(folder / "param.jdp");
    const auto files = [this] {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder.Path()))
            if (entry.path().filename().string().starts_with("param.jdp")) names.push_back(entry.path().filename());
        return names;
    };
    struct Failure { const char* name; std::string arguments; int exitCode; };
    const Failure failures[] = {
        {"no adapter", "--password kiwi --interface kvnone0 set-name-password NAP melon", 2},
        {"refused login", "--password pear set-name-password NAP melon", 21},
        {"failed burn", "--password kiwi set-name-password NAP melon", 48},
    };
    for (const Failure& f : failures) {
        const CliRun run = Run(f.arguments);
        EXPECT_EQ(run.exitCode, f.exitCode) << f.name << "\n" << run.output;
        EXPECT_EQ(fdp::Sha256File(folder / "param.jdp"), before) << f.name;
        EXPECT_EQ(files(), std::vector<std::string>{"param.jdp"}) << f.name;
    }
    const CliRun run = Run("--password kiwi set-name-password NAP melon");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(fdp::Sha256File(folder / "param.jdp"), fdp::Sha256File(sim.StatePath("param.bin")));
    EXPECT_NE(fdp::Sha256File(folder / "param.jdp"), before);
    EXPECT_EQ(files(), std::vector<std::string>{"param.jdp"});
    EXPECT_TRUE(sim.Stop());
}

}  // namespace
}  // namespace e2e
