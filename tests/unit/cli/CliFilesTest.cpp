// The files kelvane-cli writes where the user names them: params/trace OUT and the
// working files' folder given with --folder. A parameter dump holds the login password,
// so it never goes into a file another user made beforehand, and a folder others may
// write to is refused as the per-user folder is.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/unit/param/ScratchDir.h"
#include "tools/cli/CliFiles.h"

namespace cli {
namespace {

namespace fs = std::filesystem;
using kelvane_test::ReadFile;
using kelvane_test::ScratchDir;
using kelvane_test::WriteFile;
using Bytes = std::vector<std::uint8_t>;

bool Root() { return ::geteuid() == 0; }

// Every file in the folder, hidden ones included: a leftover new file shows.
std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(OutputFileTest, ANewOrOwnOutIsWrittenForItsOwnerByRename) {
    ScratchDir dir;
    const fs::path out = dir / "params.bin";
    WriteFile(out, {'o', 'l', 'd'});
    ASSERT_EQ(::chmod(out.c_str(), 0644), 0);
    struct stat before {};
    ASSERT_EQ(::stat(out.c_str(), &before), 0);

    EXPECT_EQ(OutputFileProblem(out.string()), "");
    bool refused = true;
    EXPECT_EQ(WriteOutputFile(out.string(), Bytes{'n', 'e', 'w'}, refused), "");
    EXPECT_FALSE(refused);
    struct stat after {};
    ASSERT_EQ(::stat(out.c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino) << "written in place, not a new file renamed over it";
    EXPECT_EQ(after.st_mode & 07777, 0600u);
    EXPECT_EQ(ReadFile(out), (Bytes{'n', 'e', 'w'}));
    EXPECT_EQ(Names(dir / "."), (std::vector<std::string>{"params.bin"}));

    const fs::path fresh = dir / "trace.txt";
    EXPECT_EQ(WriteOutputFile(fresh.string(), Bytes{'t'}, refused), "");
    EXPECT_EQ(ReadFile(fresh), (Bytes{'t'}));
}

// Refused before the link is opened and again at the write; nothing is written.
TEST(OutputFileTest, AnOutThatCannotBeTheUsersIsRefused) {
    ScratchDir dir;
    fs::create_directory(dir / "folder");
    WriteFile(dir / "victim", {'v'});
    fs::create_symlink(dir / "victim", dir / "link");
    WriteFile(dir / "notafolder", {'x'});
    const struct {
        const char* name;
        std::string path;
        const char* message;
    } cases[] = {
        {"a folder", (dir / "folder").string(), "Is a directory"},
        {"a symbolic link", (dir / "link").string(), "it is a symbolic link"},
        {"no such folder", (dir / "missing/out.bin").string(), "No such file or directory"},
        {"a file for a folder", (dir / "notafolder/out.bin").string(), "Not a directory"},
    };
    for (const auto& c : cases) {
        const std::string problem = OutputFileProblem(c.path);
        EXPECT_NE(problem.find("Cannot write " + c.path + ": " + c.message), std::string::npos) << c.name << ": " << problem;
        bool refused = false;
        EXPECT_EQ(WriteOutputFile(c.path, Bytes{'p'}, refused), problem) << c.name;
        EXPECT_TRUE(refused) << c.name;
    }
    EXPECT_EQ(ReadFile(dir / "victim"), (Bytes{'v'}));
    EXPECT_TRUE(fs::is_symlink(dir / "link"));
}

TEST(OutputFileTest, AnotherUsersOutIsNeitherWrittenNorReplaced) {
    if (!Root()) GTEST_SKIP() << "needs root to give a file to another user";
    ScratchDir dir;
    const fs::path out = dir / "params.bin";
    WriteFile(out, {'t', 'h', 'e', 'i', 'r', 's'});
    ASSERT_EQ(::chown(out.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(out.c_str(), 0666), 0);
    struct stat before {};
    ASSERT_EQ(::stat(out.c_str(), &before), 0);

    const std::string expected =
        out.string() + " belongs to another user: kelvane-cli neither writes into it nor replaces it.";
    EXPECT_NE(OutputFileProblem(out.string()).find(expected), std::string::npos) << OutputFileProblem(out.string());
    bool refused = false;
    EXPECT_NE(WriteOutputFile(out.string(), Bytes{'p', 'w'}, refused).find(expected), std::string::npos);
    EXPECT_TRUE(refused);
    struct stat after {};
    ASSERT_EQ(::stat(out.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_uid, 65534u);
    EXPECT_EQ(ReadFile(out), (Bytes{'t', 'h', 'e', 'i', 'r', 's'}));
    EXPECT_EQ(Names(dir / "."), (std::vector<std::string>{"params.bin"}));
}

// --folder gets the per-user folder's checks: the user's own, writable by nobody else.
TEST(NamedFolderTest, AFolderOthersMayWriteIsRefused) {
    const struct {
        const char* name;
        unsigned mode;
        const char* message;   // nullptr: accepted
    } cases[] = {
        {"own 0700", 0700, nullptr},
        {"own 0755", 0755, nullptr},
        {"group-writable 0775", 0775, "Other users may write to the folder "},
        {"world-writable 0777", 0777, "Other users may write to the folder "},
        {"sticky 01777", 01777, "Other users may write to the folder "},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        const fs::path folder = dir / "work";
        fs::create_directory(folder);
        ASSERT_EQ(::chmod(folder.c_str(), c.mode), 0);
        const std::string problem = NamedFolderProblem(folder.string());
        if (!c.message) {
            EXPECT_EQ(problem, "") << c.name;
        } else {
            EXPECT_NE(problem.find(c.message + folder.string() + ", so kelvane-cli keeps none of its files there"),
                      std::string::npos)
                << c.name << ": " << problem;
        }
    }
    ScratchDir dir;
    EXPECT_NE(NamedFolderProblem((dir / "missing").string()).find("No such file or directory"), std::string::npos);
}

TEST(NamedFolderTest, AnotherUsersFolderIsRefused) {
    if (!Root()) GTEST_SKIP() << "needs root to give a folder to another user";
    ScratchDir dir;
    const fs::path folder = dir / "work";
    fs::create_directory(folder);
    ASSERT_EQ(::chmod(folder.c_str(), 0700), 0);
    ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
    EXPECT_NE(NamedFolderProblem(folder.string()).find("The folder " + folder.string() + " belongs to another user"),
              std::string::npos)
        << NamedFolderProblem(folder.string());
}

}  // namespace
}  // namespace cli
