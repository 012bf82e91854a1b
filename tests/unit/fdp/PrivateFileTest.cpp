#include "fdp/PrivateFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/unit/param/ScratchDir.h"

namespace fdp {
namespace {

namespace fs = std::filesystem;
using kelvane_test::ReadFile;
using kelvane_test::ScratchDir;
using kelvane_test::WriteFile;
using Bytes = std::vector<std::uint8_t>;

unsigned Mode(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// Every file in the folder, hidden ones included.
std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The umask of the process, taken away for the test: a file created 0666 and narrowed
// later shows as 0666 here for a moment; only a file created 0600 never does.
class OpenUmask : public ::testing::Test {
protected:
    void SetUp() override { m_old = ::umask(0); }
    void TearDown() override { ::umask(m_old); }
    mode_t m_old = 022;
    ScratchDir dir;
};

using Mode_ = CPrivateFile::Mode;

TEST_F(OpenUmask, NewFilesAreTheOwnersAloneFromTheStart) {
    for (const Mode_ mode : {Mode_::Truncate, Mode_::Append, Mode_::CreateNew}) {
        const fs::path path = dir / "trace.txt";
        fs::remove(path);
        CPrivateFile file = CPrivateFile::Open(path, mode);
        ASSERT_TRUE(file.IsOpen()) << file.Error();
        // Checked while still open, before anything could narrow it.
        EXPECT_EQ(Mode(path), 0600u) << static_cast<int>(mode);
    }
    CPrivateFile replacement = CPrivateFile::Replace(dir / "param.jdp");
    ASSERT_TRUE(replacement.IsOpen()) << replacement.Error();
    struct stat info {};
    ASSERT_EQ(::fstat(replacement.Fd(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
}

TEST_F(OpenUmask, AnOlderFileOthersMayReadIsNarrowedBeforeUse) {
    WriteFile(dir / "history.jsonl", {'x'});
    fs::permissions(dir / "history.jsonl", fs::perms(0644));
    CPrivateFile file = CPrivateFile::Open(dir / "history.jsonl", Mode_::Append);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(Mode(dir / "history.jsonl"), 0600u);
}

// A link planted where a working file belongs: refused for every way of opening, and
// the file it points at keeps its bytes.
TEST_F(OpenUmask, ASymbolicLinkInTheFilesPlaceIsRefusedNotFollowed) {
    WriteFile(dir / "victim", {'v'});
    fs::create_symlink(dir / "victim", dir / "trace.txt");
    fs::create_symlink(dir / "missing", dir / "dangling");
    for (const Mode_ mode : {Mode_::Truncate, Mode_::Append, Mode_::CreateNew, Mode_::ReadOnly}) {
        for (const char* name : {"trace.txt", "dangling"}) {
            CPrivateFile file = CPrivateFile::Open(dir / name, mode);
            EXPECT_FALSE(file.IsOpen()) << name << " " << static_cast<int>(mode);
            EXPECT_NE(file.Error().find(std::string("Cannot open ") + (dir / name).string()), std::string::npos)
                << file.Error();
        }
    }
    EXPECT_EQ(ReadFile(dir / "victim"), (Bytes{'v'}));
    EXPECT_FALSE(fs::exists(dir / "missing"));
    EXPECT_NE(CPrivateFile::Open(dir / "trace.txt", Mode_::Truncate).Error().find("symbolic link"), std::string::npos);
}

TEST_F(OpenUmask, AFifoOrAFolderInTheFilesPlaceIsRefusedWithoutHanging) {
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    fs::create_directory(dir / "folder");
    for (const char* name : {"fifo", "folder"}) {
        for (const Mode_ mode : {Mode_::Truncate, Mode_::Append, Mode_::ReadOnly}) {
            const CPrivateFile file = CPrivateFile::Open(dir / name, mode);
            EXPECT_FALSE(file.IsOpen()) << name;
            EXPECT_FALSE(file.Error().empty()) << name;
        }
    }
}

// A file another user made where a working file belongs, open to all (0666): writing
// into it would hand that user whatever the program writes (a parameter dump holds the
// password). Refused for writing, its bytes kept, not even cut to length 0.
TEST_F(OpenUmask, AnotherUsersFileIsNeverWritten) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a file to another user";
    const fs::path path = dir / "trace.txt";
    WriteFile(path, {'t', 'h', 'e', 'i', 'r', 's'});
    ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    for (const Mode_ mode : {Mode_::Truncate, Mode_::Append}) {
        const CPrivateFile file = CPrivateFile::Open(path, mode);
        EXPECT_FALSE(file.IsOpen()) << static_cast<int>(mode);
        EXPECT_EQ(file.Error(), "Cannot open " + path.string() + ": it belongs to another user");
    }
    EXPECT_EQ(ReadFile(path), (Bytes{'t', 'h', 'e', 'i', 'r', 's'}));
    EXPECT_EQ(Mode(path), 0666u);
    EXPECT_TRUE(CPrivateFile::Open(path, Mode_::ReadOnly).IsOpen());
}

TEST_F(OpenUmask, TruncateCutsTheUsersOwnFile) {
    WriteFile(dir / "trace.txt", {'o', 'l', 'd'});
    CPrivateFile file = CPrivateFile::Open(dir / "trace.txt", Mode_::Truncate);
    ASSERT_TRUE(file.IsOpen()) << file.Error();
    ASSERT_TRUE(file.WriteAll(Bytes{'n'}));
    ASSERT_TRUE(file.Close());
    EXPECT_EQ(ReadFile(dir / "trace.txt"), (Bytes{'n'}));
}

TEST_F(OpenUmask, CreateNewNeverTouchesAnExistingFile) {
    WriteFile(dir / "param.jdp", {7});
    const CPrivateFile file = CPrivateFile::Open(dir / "param.jdp", Mode_::CreateNew);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.ErrorNumber(), EEXIST);
    EXPECT_EQ(ReadFile(dir / "param.jdp"), (Bytes{7}));
}

// A rewrite goes to a new file that is renamed over the old one: a reader that opened
// the old file keeps reading the old bytes, and nothing else is left in the folder.
TEST_F(OpenUmask, RewriteRenamesANewFileOverTheOld) {
    const fs::path path = dir / "kelvane.ini";
    WriteFile(path, {'o', 'l', 'd'});
    fs::permissions(path, fs::perms(0644));
    const int reader = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(reader, 0);
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);

    std::string error;
    ASSERT_TRUE(CPrivateFile::Rewrite(path, Bytes{'n', 'e', 'w', '!'}, error)) << error;

    char seen[8] = {};
    EXPECT_EQ(::pread(reader, seen, sizeof seen, 0), 3);
    EXPECT_EQ(std::string(seen, 3), "old");
    ::close(reader);
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_EQ(ReadFile(path), (Bytes{'n', 'e', 'w', '!'}));
    EXPECT_EQ(Mode(path), 0600u);
    EXPECT_EQ(Names(dir / "."), (std::vector<std::string>{"kelvane.ini"}));
}

TEST_F(OpenUmask, RewriteReplacesALinkInsteadOfWritingThroughIt) {
    WriteFile(dir / "victim", {'v'});
    fs::create_symlink(dir / "victim", dir / "param.jdp");
    std::string error;
    ASSERT_TRUE(CPrivateFile::Rewrite(dir / "param.jdp", Bytes{'p'}, error)) << error;
    EXPECT_EQ(ReadFile(dir / "victim"), (Bytes{'v'}));
    EXPECT_FALSE(fs::is_symlink(dir / "param.jdp"));
    EXPECT_EQ(ReadFile(dir / "param.jdp"), (Bytes{'p'}));
}

TEST_F(OpenUmask, AnAbandonedRewriteLeavesTheOldFileAndNoNewOne) {
    const fs::path path = dir / "param.jdp";
    WriteFile(path, {'o'});
    {
        CPrivateFile file = CPrivateFile::Replace(path);
        ASSERT_TRUE(file.IsOpen());
        ASSERT_TRUE(file.WriteAll(Bytes{'n'}));
        EXPECT_EQ(Names(dir / ".").size(), 2u);   // the new file exists beside it
    }
    EXPECT_EQ(ReadFile(path), (Bytes{'o'}));
    EXPECT_EQ(Names(dir / "."), (std::vector<std::string>{"param.jdp"}));
}

TEST_F(OpenUmask, ARewriteInAFolderThatIsNotThereFailsWithItsName) {
    std::string error;
    EXPECT_FALSE(CPrivateFile::Rewrite(dir / "gone" / "kelvane.ini", Bytes{1}, error));
    EXPECT_NE(error.find((dir / "gone" / "kelvane.ini").string()), std::string::npos) << error;
}

}  // namespace
}  // namespace fdp
