#include "fdp/ProgramFolders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/unit/param/ScratchDir.h"

using namespace fdp;
using kelvane_test::ReadFile;
using kelvane_test::ScratchDir;
using kelvane_test::WriteFile;
namespace fs = std::filesystem;

namespace {

unsigned Mode(const fs::path& path) {
    struct stat info{};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

struct PersonalCase {
    const char* name;
    std::optional<std::string> xdg;
    std::optional<std::string> home;
    const char* expected;
};

class PersonalFolderTest : public testing::TestWithParam<PersonalCase> {};

TEST_P(PersonalFolderTest, FollowsXdgConfigHome) {
    const PersonalCase& c = GetParam();
    EXPECT_EQ(PersonalFolder({c.xdg, c.home}), fs::path(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Environments, PersonalFolderTest,
    testing::Values(PersonalCase{"Xdg", "/x/conf", "/home/tech", "/x/conf/kelvane"},
                    PersonalCase{"Unset", std::nullopt, "/home/tech", "/home/tech/.config/kelvane"},
                    PersonalCase{"Empty", "", "/home/tech", "/home/tech/.config/kelvane"},
                    // A relative base directory is invalid and would follow the current folder.
                    PersonalCase{"Relative", "conf", "/home/tech", "/home/tech/.config/kelvane"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(ProgramFoldersTest, BuildFolderKeepsEverythingBesideTheProgram) {
    ScratchDir dir;
    fs::create_directories(dir / "bin");
    WriteFile(dir / "bin" / "default.jdp", {1});
    const ProgramFolders folders = ResolveProgramFolders(dir / "bin", {"/x/conf", "/home/tech"});
    EXPECT_FALSE(folders.personal);
    EXPECT_EQ(folders.work, dir / "bin");
    EXPECT_EQ(folders.DefaultFile(), dir / "bin" / "default.jdp");
    std::string error;
    EXPECT_TRUE(PrepareWorkFolder(folders, error));
    EXPECT_FALSE(fs::exists(dir / "bin" / "param.jdp"));
}

// An installed program: binary in <prefix>/bin, parameter files in <prefix>/share/kelvane.
TEST(ProgramFoldersTest, InstalledProgramWorksInThePersonalFolder) {
    ScratchDir dir;
    fs::create_directories(dir / "usr");
    fs::create_directories(dir / "usr" / "bin");
    fs::create_directories(dir / "usr" / "share" / "kelvane");
    WriteFile(dir / "usr" / "share" / "kelvane" / "default.jdp", {1, 1});
    WriteFile(dir / "usr" / "share" / "kelvane" / "param.jdp", {2, 2});
    fs::permissions(dir / "usr" / "share" / "kelvane" / "param.jdp", fs::perms(0644));

    const fs::path config = dir / "home" / ".config";
    const ProgramFolders folders = ResolveProgramFolders(dir / "usr" / "bin", {config.string(), "/nonexistent"});
    ASSERT_TRUE(folders.personal);
    EXPECT_EQ(folders.work, config / "kelvane");
    EXPECT_EQ(folders.DefaultFile(), (dir / "usr" / "share" / "kelvane" / "default.jdp").lexically_normal());

    std::string error;
    ASSERT_TRUE(PrepareWorkFolder(folders, error)) << error;
    EXPECT_EQ(Mode(folders.work), 0700u);
    EXPECT_EQ(ReadFile(folders.work / "param.jdp"), (std::vector<std::uint8_t>{2, 2}));
    EXPECT_EQ(Mode(folders.work / "param.jdp"), 0600u);

    // A later run keeps the user's working block.
    WriteFile(folders.work / "param.jdp", {7});
    ASSERT_TRUE(PrepareWorkFolder(folders, error)) << error;
    EXPECT_EQ(ReadFile(folders.work / "param.jdp"), (std::vector<std::uint8_t>{7}));
}

TEST(ProgramFoldersTest, UncreatableFolderIsReported) {
    ScratchDir dir;
    WriteFile(dir / "file", {0});
    ProgramFolders folders{dir / "file" / "kelvane", dir / "file", true};
    std::string error;
    EXPECT_FALSE(PrepareWorkFolder(folders, error));
    EXPECT_NE(error.find("Cannot create"), std::string::npos) << error;
}

}  // namespace
