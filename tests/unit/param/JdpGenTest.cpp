// The build's parameter file generator: default.jdp is always the built-in block, the
// working param.jdp is only ever created, never replaced.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "fdp/param/StandardBlock.h"
#include "tests/unit/param/ScratchDir.h"

#ifdef KELVANE_JDPGEN

namespace param {
namespace {

using Bytes = std::vector<std::uint8_t>;
using kelvane_test::ReadFile;
using kelvane_test::ScratchDir;
using kelvane_test::WriteFile;

int RunJdpGen(const std::string& arguments) {
    return std::system((std::string(KELVANE_JDPGEN) + " " + arguments).c_str());
}

TEST(JdpGen, KeepsAnEditedWorkingFileAndRenewsTheDefault) {
    const ParamBlock block = MakeStandardBlock();
    const Bytes standard(block.bytes.begin(), block.bytes.end());
    ScratchDir dir;
    Bytes edited = standard;
    edited[2048 + 33] = 'Z';   // the friendly name, as a page saved it
    WriteFile(dir / "param.jdp", edited);
    WriteFile(dir / "default.jdp", Bytes(100, 0xEE));

    ASSERT_EQ(RunJdpGen((dir / "default.jdp").string()), 0);
    ASSERT_EQ(RunJdpGen("--if-missing " + (dir / "param.jdp").string()), 0);
    EXPECT_EQ(ReadFile(dir / "default.jdp"), standard);
    EXPECT_EQ(ReadFile(dir / "param.jdp"), edited) << "the working file was replaced";

    ASSERT_EQ(RunJdpGen("--if-missing " + (dir / "fresh.jdp").string()), 0);
    EXPECT_EQ(ReadFile(dir / "fresh.jdp"), standard) << "a missing working file is created";
}

}  // namespace
}  // namespace param

#endif
