#include "fdp/ProgramFolders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
    std::optional<std::string> account;
    const char* expected;   // "": no folder at all
};

class PersonalFolderTest : public testing::TestWithParam<PersonalCase> {};

TEST_P(PersonalFolderTest, FollowsXdgConfigHome) {
    const PersonalCase& c = GetParam();
    EXPECT_EQ(PersonalFolder({c.xdg, c.home, c.account}), fs::path(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Environments, PersonalFolderTest,
    testing::Values(PersonalCase{"Xdg", "/x/conf", "/home/tech", "/home/acct", "/x/conf/kelvane"},
                    PersonalCase{"Unset", std::nullopt, "/home/tech", "/home/acct", "/home/tech/.config/kelvane"},
                    PersonalCase{"Empty", "", "/home/tech", std::nullopt, "/home/tech/.config/kelvane"},
                    // A relative base directory is invalid and would follow the current folder.
                    PersonalCase{"Relative", "conf", "/home/tech", std::nullopt, "/home/tech/.config/kelvane"},
                    PersonalCase{"NoHomeVariable", std::nullopt, std::nullopt, "/home/acct", "/home/acct/.config/kelvane"},
                    PersonalCase{"EmptyHome", std::nullopt, "", "/home/acct", "/home/acct/.config/kelvane"},
                    // Nothing names a folder: none, never one that all users share such as /tmp.
                    PersonalCase{"Nothing", std::nullopt, std::nullopt, std::nullopt, ""},
                    PersonalCase{"OnlyRelatives", "conf", "home", "acct", ""}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(ProgramFoldersTest, WithoutAnyFolderTheProgramSaysSoAndWorksWithoutSaving) {
    ScratchDir dir;
    fs::create_directories(dir / "usr" / "bin");
    fs::create_directories(dir / "usr" / "share" / "kelvane");
    WriteFile(dir / "usr" / "share" / "kelvane" / "default.jdp", {1});
    const ProgramFolders folders = ResolveProgramFolders(dir / "usr" / "bin", {std::nullopt, std::nullopt, std::nullopt});
    EXPECT_TRUE(folders.work.empty());
    std::string error;
    EXPECT_FALSE(PrepareWorkFolder(folders, error));
    EXPECT_NE(error.find("There is no folder for Kelvane's files"), std::string::npos) << error;
}

// Another user's folder, or one others may write to, could have its files swapped
// under the program: refused with a message naming it, and nothing is put in it.
TEST(ProgramFoldersTest, AFolderOthersMayWriteIsRefused) {
    const struct {
        const char* name;
        bool personal;
        unsigned mode;
        const char* message;   // nullptr: accepted
    } cases[] = {
        {"own 0700", true, 0700, nullptr},
        {"own 0755", true, 0755, nullptr},
        {"group-writable", true, 0770, "Other users may write to the folder "},
        {"world-writable", true, 0707, "Other users may write to the folder "},
        {"sticky world-writable", true, 01777, "Other users may write to the folder "},
        {"program folder 0755", false, 0755, nullptr},
        {"program folder world-writable", false, 0777, "Other users may write to the folder "},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        fs::create_directories(dir / "share");
        WriteFile(dir / "share" / "param.jdp", {3});
        const fs::path work = dir / "kelvane";
        fs::create_directory(work);
        ASSERT_EQ(::chmod(work.c_str(), c.mode), 0);
        const ProgramFolders folders{work, dir / "share", c.personal};
        std::string error;
        EXPECT_EQ(PrepareWorkFolder(folders, error), c.message == nullptr) << c.name;
        if (c.message) {
            EXPECT_NE(error.find(c.message + work.string()), std::string::npos) << c.name << ": " << error;
            EXPECT_FALSE(fs::exists(work / "param.jdp")) << c.name;
        }
        ::chmod(work.c_str(), 0700);
    }
}

// root may hand a folder to another user; the test needs that right.
TEST(ProgramFoldersTest, AnotherUsersFolderIsRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a folder to another user";
    ScratchDir dir;
    const fs::path work = dir / "kelvane";
    fs::create_directory(work);
    ASSERT_EQ(::chmod(work.c_str(), 0700), 0);
    ASSERT_EQ(::chown(work.c_str(), 65534, 65534), 0);
    std::string error;
    EXPECT_FALSE(PrepareWorkFolder({work, dir / "share", true}, error));
    EXPECT_NE(error.find("The folder " + work.string() + " belongs to another user"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(work / "param.jdp"));
}

TEST(ProgramFoldersTest, BuildFolderKeepsEverythingBesideTheProgram) {
    ScratchDir dir;
    fs::create_directories(dir / "bin");
    WriteFile(dir / "bin" / "default.jdp", {1});
    const ProgramFolders folders = ResolveProgramFolders(dir / "bin", {"/x/conf", "/home/tech", std::nullopt});
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
    const ProgramFolders folders = ResolveProgramFolders(dir / "usr" / "bin", {config.string(), "/nonexistent", std::nullopt});
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
