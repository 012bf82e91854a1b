#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "fdp/param/ParamStore.h"
#include "fdp/param/StandardBlock.h"
#include "tests/unit/param/ScratchDir.h"

namespace param {
namespace {

using Bytes = std::vector<std::uint8_t>;
using kelvane_test::ReadFile;
using kelvane_test::ScratchDir;
using kelvane_test::WriteFile;

Bytes StandardBytes() {
    const ParamBlock block = MakeStandardBlock();
    return Bytes(block.bytes.begin(), block.bytes.end());
}

// A store initialised on param.jdp and default.jdp in a scratch folder, as the main
// window does at start-up.
class ParamFileTest : public ::testing::Test {
protected:
    void SetUp() override { store.Init(paramPath, defaultPath); }

    ScratchDir dir;
    std::filesystem::path paramPath = dir / "param.jdp";
    std::filesystem::path defaultPath = dir / "default.jdp";
    CParamStore store;
};

TEST_F(ParamFileTest, SavedBlockLoadsBackTheSame) {
    WriteFile(paramPath, StandardBytes());
    ASSERT_TRUE(store.LoadParam());
    EXPECT_EQ(store.View().rowCount, 91);
    ASSERT_TRUE(store.SetText(8, "Kelvane NAP"));
    ASSERT_TRUE(store.SaveParam());

    const Bytes saved = ReadFile(paramPath);
    EXPECT_EQ(saved, Bytes(store.Block().bytes.begin(), store.Block().bytes.end()));

    CParamStore reloaded;
    reloaded.Init(paramPath, defaultPath);
    ASSERT_TRUE(reloaded.LoadParam());
    EXPECT_EQ(reloaded.Block().bytes, store.Block().bytes);
    EXPECT_EQ(reloaded.GetString(8), "Kelvane NAP");
    EXPECT_EQ(reloaded.View().rowCount, static_cast<std::int32_t>(saved[2052] | saved[2053] << 8));
}

TEST_F(ParamFileTest, LoadDefaultReadsTheDefaultFile) {
    Bytes other = StandardBytes();
    other[4096] = 'X';                                   // version text "X.0.0.0"
    WriteFile(defaultPath, other);
    EXPECT_FALSE(store.LoadParam());
    ASSERT_TRUE(store.LoadDefault());
    EXPECT_EQ(store.View().version, "X.0.0.0");
}

// The bytes past a short file's end keep what the block held before: zero right after
// Init, the earlier file's bytes after a load.
TEST_F(ParamFileTest, ShortFileReplacesOnlyTheBytesItHolds) {
    Bytes full = StandardBytes();
    std::fill(full.begin() + 4096, full.end(), 0x5A);   // a description area with no zeros
    const Bytes shortFile(full.begin(), full.begin() + 5000);
    const Bytes zero(kBlockSize, 0);

    for (const Bytes* before : {&zero, const_cast<const Bytes*>(&full)}) {
        SCOPED_TRACE(before == &zero ? "after Init" : "after a full load");
        store.Init(paramPath, defaultPath);
        if (before == &full) {
            WriteFile(paramPath, full);
            ASSERT_TRUE(store.LoadParam());
        }
        WriteFile(paramPath, shortFile);
        ASSERT_TRUE(store.LoadParam());
        const auto& bytes = store.Block().bytes;
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 5000, shortFile.begin()));
        EXPECT_TRUE(std::equal(bytes.begin() + 5000, bytes.end(), before->begin() + 5000));
        EXPECT_EQ(store.View().rowCount, 91);
        EXPECT_EQ(store.GetString(8), "Jox NAP");
    }
}

TEST_F(ParamFileTest, BytesPast8191AreNeitherReadNorOverwritten) {
    Bytes longer = StandardBytes();
    longer.resize(9000, 0xAA);
    WriteFile(paramPath, longer);
    ASSERT_TRUE(store.LoadParam());
    ASSERT_TRUE(store.SetText(3, "0000"));
    ASSERT_TRUE(store.SaveParam());

    const Bytes saved = ReadFile(paramPath);
    ASSERT_EQ(saved.size(), 9000u);
    EXPECT_TRUE(std::equal(saved.begin(), saved.begin() + 8192, store.Block().bytes.begin()));
    EXPECT_TRUE(std::all_of(saved.begin() + 8192, saved.end(), [](auto b) { return b == 0xAA; }));
}

// A new password goes into a new file renamed over param.jdp: whoever opened the old
// file (a download reading it) keeps the old bytes; nothing else stays in the folder.
TEST_F(ParamFileTest, SaveRenamesANewFileOverTheOld) {
    WriteFile(paramPath, StandardBytes());
    ASSERT_TRUE(store.LoadParam());
    const int reader = ::open(paramPath.c_str(), O_RDONLY);
    ASSERT_GE(reader, 0);
    ASSERT_TRUE(store.SetText(3, "plum"));
    ASSERT_TRUE(store.SaveParam());

    Bytes seen(8192);
    EXPECT_EQ(::pread(reader, seen.data(), seen.size(), 0), 8192);
    ::close(reader);
    EXPECT_EQ(seen, StandardBytes());
    const Bytes saved = ReadFile(paramPath);
    EXPECT_TRUE(std::equal(saved.begin(), saved.end(), store.Block().bytes.begin()));
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(paramPath.parent_path())) ++files;
    EXPECT_EQ(files, 1u);
}

// A link where param.jdp belongs is refused: the file it names keeps its bytes.
TEST_F(ParamFileTest, SaveRefusesALinkInTheFilesPlace) {
    WriteFile(dir / "victim", StandardBytes());
    std::filesystem::create_symlink(dir / "victim", paramPath);
    ASSERT_TRUE(store.LoadParam());   // reading follows it; only writing must not
    ASSERT_TRUE(store.SetText(3, "plum"));
    EXPECT_FALSE(store.SaveParam());
    EXPECT_EQ(ReadFile(dir / "victim"), StandardBytes());
    EXPECT_TRUE(std::filesystem::is_symlink(paramPath));
}

TEST_F(ParamFileTest, SaveNeverCreatesTheFile) {
    EXPECT_FALSE(store.SaveParam());
    EXPECT_FALSE(std::filesystem::exists(paramPath));
}

TEST_F(ParamFileTest, FailedLoadLeavesBlockAndViewAsTheyWere) {
    EXPECT_FALSE(store.LoadParam());
    EXPECT_FALSE(store.View().bound);
    EXPECT_TRUE(std::all_of(store.Block().bytes.begin(), store.Block().bytes.end(), [](auto b) { return b == 0; }));

    WriteFile(paramPath, StandardBytes());
    ASSERT_TRUE(store.LoadParam());
    std::filesystem::remove(paramPath);
    std::filesystem::create_directory(paramPath);      // opens, but every read fails
    EXPECT_FALSE(store.LoadParam());
    EXPECT_EQ(store.Block().bytes, MakeStandardBlock().bytes);
    EXPECT_EQ(store.View().rowCount, 91);
}

TEST_F(ParamFileTest, AFileLockedByAnotherOpenerIsRefused) {
    WriteFile(paramPath, StandardBytes());
    const int other = ::open(paramPath.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(store.LoadParam());
    EXPECT_FALSE(store.SaveParam());
    ::close(other);
    EXPECT_TRUE(store.LoadParam());
    EXPECT_TRUE(store.SaveParam());
}

TEST(ParamFileNoInit, LoadAndSaveFailWithoutPaths) {
    CParamStore store;
    EXPECT_FALSE(store.LoadParam());
    EXPECT_FALSE(store.LoadDefault());
    EXPECT_FALSE(store.SaveParam());
}

}  // namespace
}  // namespace param
