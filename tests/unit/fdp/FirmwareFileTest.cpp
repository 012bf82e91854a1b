#include "fdp/FirmwareFile.h"

#include <gtest/gtest.h>

#include "tests/unit/param/ScratchDir.h"

namespace fdp {
namespace {

using kelvane_test::ScratchDir;
using kelvane_test::WriteFile;

constexpr FirmwareVersion kVersion{1, 2, 3, 4};

TEST(FirmwareFile, SizeWindowsAreInclusiveAndOnlyTheCheckedKindsSizeCounts) {
    struct Case { FirmwareKind kind; std::size_t size; unsigned result; };
    const Case cases[] = {
        {FirmwareBoot, 1023, FileCheckBootSize},       {FirmwareBoot, 1024, FileCheckOk},
        {FirmwareBoot, 65536, FileCheckOk},            {FirmwareBoot, 65537, FileCheckBootSize},
        {FirmwareProgram, 65535, FileCheckProgramSize}, {FirmwareProgram, 65536, FileCheckOk},
        {FirmwareProgram, 2023424, FileCheckOk},       {FirmwareProgram, 2023425, FileCheckProgramSize},
    };
    ScratchDir dir;
    for (const Case& c : cases) {
        const auto path = (dir / "image.bin").string();
        WriteFile(path, MakeSampleFirmware(c.size, kVersion));
        EXPECT_EQ(CheckFirmwareFile(c.kind, path, CheckAll), c.result) << c.kind << ' ' << c.size;
        // With the kind's size check off only the signature is left, which passes.
        const std::uint32_t sizeBit = c.kind == FirmwareBoot ? CheckBootSize : CheckProgramSize;
        EXPECT_EQ(CheckFirmwareFile(c.kind, path, CheckAll & ~sizeBit), FileCheckOk) << c.size;
    }
}

TEST(FirmwareFile, SignatureTakesEachPositionFromEitherTable) {
    // Table A's branch word with table B's two trailing loads: a mix, still accepted.
    std::vector<std::uint8_t> mixed = MakeSampleFirmware(4096, kVersion);
    const std::uint8_t tailB[8] = {0x20, 0xFF, 0x1F, 0xE5, 0x20, 0xFF, 0x1F, 0xE5};
    std::copy(std::begin(tailB), std::end(tailB), mixed.begin() + 24);
    EXPECT_TRUE(SignatureMatches(mixed.data(), mixed.size()));
    mixed[0] = 0x18;   // table B's branch byte
    EXPECT_TRUE(SignatureMatches(mixed.data(), mixed.size()));
    mixed[1] = 0x01;   // in neither table
    EXPECT_FALSE(SignatureMatches(mixed.data(), mixed.size()));

    // Missing bytes count as zero: the first 31 bytes of a good image fail.
    const auto good = MakeSampleFirmware(4096, kVersion);
    EXPECT_FALSE(SignatureMatches(good.data(), 31));

    ScratchDir dir;
    const auto path = (dir / "short.bin").string();
    WriteFile(path, std::vector<std::uint8_t>(good.begin(), good.begin() + 31));
    EXPECT_EQ(CheckFirmwareFile(FirmwareBoot, path, CheckAll & ~CheckBootSize), FileCheckSignature);
    EXPECT_EQ(CheckFirmwareFile(FirmwareBoot, path, CheckAll), FileCheckBootSize);   // size comes first
    EXPECT_EQ(CheckFirmwareFile(FirmwareBoot, path, 0), FileCheckOk);
}

// The two ARM vector tables as the target's images start, byte by byte.
const std::uint8_t kTableA[32] = {0x0E, 0x00, 0x00, 0xEA, 0x18, 0xF0, 0x9F, 0xE5, 0x18, 0xF0, 0x9F,
                                  0xE5, 0x18, 0xF0, 0x9F, 0xE5, 0x18, 0xF0, 0x9F, 0xE5, 0x18, 0xF0,
                                  0x9F, 0xE5, 0x18, 0xF0, 0x9F, 0xE5, 0x18, 0xF0, 0x9F, 0xE5};
const std::uint8_t kTableB[32] = {0x18, 0x00, 0x00, 0xEA, 0x18, 0xF0, 0x9F, 0xE5, 0x18, 0xF0, 0x9F,
                                  0xE5, 0x18, 0xF0, 0x9F, 0xE5, 0x18, 0xF0, 0x9F, 0xE5, 0x18, 0xF0,
                                  0x9F, 0xE5, 0x20, 0xFF, 0x1F, 0xE5, 0x20, 0xFF, 0x1F, 0xE5};

// Every one of the 32 bytes is checked: a value found in neither table at any single
// position makes the file no firmware, and either table's byte at it is accepted.
TEST(FirmwareFile, EachOfTheThirtyTwoSignatureBytesIsChecked) {
    ScratchDir dir;
    const auto path = (dir / "image.bin").string();
    for (const auto* table : {kTableA, kTableB}) {
        std::vector<std::uint8_t> image(4096, 0x00);
        std::copy(table, table + 32, image.begin());
        EXPECT_TRUE(SignatureMatches(image.data(), image.size()));
        for (std::size_t i = 0; i < 32; ++i) {
            std::vector<std::uint8_t> changed = image;
            changed[i] = 0x5A;   // in neither table at any position
            EXPECT_FALSE(SignatureMatches(changed.data(), changed.size())) << "byte " << i;
            WriteFile(path, changed);
            EXPECT_EQ(CheckFirmwareFile(FirmwareBoot, path, 0xFFFFFFFF), 4u) << "byte " << i;
            // The other table's byte at the same position: a mix, still accepted.
            changed[i] = (table == kTableA ? kTableB : kTableA)[i];
            EXPECT_TRUE(SignatureMatches(changed.data(), changed.size())) << "byte " << i;
        }
    }
}

TEST(FirmwareFile, PathsThatGiveNoFile) {
    ScratchDir dir;
    EXPECT_EQ(CheckFirmwareFile(FirmwareBoot, "", CheckAll), FileCheckNoBootPath);
    EXPECT_EQ(CheckFirmwareFile(FirmwareProgram, "", CheckAll), FileCheckNoProgramPath);
    EXPECT_EQ(CheckFirmwareFile(FirmwareProgram, (dir / "missing.bin").string(), CheckAll), FileCheckCannotOpen);
    // A folder opens on Linux but is no file.
    EXPECT_EQ(CheckFirmwareFile(FirmwareProgram, (dir / ".").string(), 0), FileCheckCannotOpen);
    struct Text { unsigned result, id; };
    const Text texts[] = {{FileCheckCannotOpen, 3004}, {FileCheckBootSize, 3001}, {FileCheckProgramSize, 3002},
                          {FileCheckSignature, 3003}, {FileCheckNoBootPath, 3006}, {FileCheckNoProgramPath, 3005}};
    for (const Text& t : texts) EXPECT_EQ(FileCheckTextId(t.result), t.id) << t.result;
}

TEST(FirmwareFile, VersionWordAtOffset64) {
    ScratchDir dir;
    const auto path = (dir / "image.bin").string();
    WriteFile(path, MakeSampleFirmware(2048, FirmwareVersion{2, 1, 0, 3}));
    FirmwareVersion version;
    ASSERT_EQ(ReadFileVersion(FirmwareBoot, path, CheckAll, version), FileCheckOk);
    EXPECT_EQ(version.Text(), "2.1.0.3");
    // A failing check is returned unchanged and leaves the version alone.
    FirmwareVersion untouched{9, 9, 9, 9};
    EXPECT_EQ(ReadFileVersion(FirmwareProgram, path, CheckAll, untouched), FileCheckProgramSize);
    EXPECT_EQ(untouched.Text(), "9.9.9.9");
    // A file ending inside the word reads the missing bytes as zero.
    auto image = MakeSampleFirmware(2048, FirmwareVersion{2, 1, 0, 3});
    image.resize(66);
    WriteFile(path, image);
    ASSERT_EQ(ReadFileVersion(FirmwareBoot, path, 0, version), FileCheckOk);
    EXPECT_EQ(version.Text(), "0.0.0.3");
}

TEST(FirmwareFile, DowngradeQuestion) {
    const FirmwareVersion none{0xFF, 0xFF, 0xFF, 0xFF};
    struct Case { FirmwareKind kind; FirmwareVersion file, target; bool asks; };
    const Case cases[] = {
        {FirmwareProgram, {1, 2, 3, 5}, {1, 2, 3, 4}, false},
        {FirmwareProgram, {1, 2, 3, 4}, {1, 2, 3, 4}, true},    // equal asks: strictly lower only
        {FirmwareProgram, {1, 2, 3, 3}, {1, 2, 3, 4}, true},
        {FirmwareProgram, {2, 0, 0, 0}, {1, 10, 0, 0}, true},   // 1.10.0.0 weighs as 2.0.0.0
        {FirmwareProgram, {0, 0, 0, 1}, none, false},          // no program in the target
        {FirmwareProgram, {0, 0, 0, 0}, none, true},
        {FirmwareBoot, {9, 9, 9, 9}, none, true},              // boot has no such case
        {FirmwareBoot, {1, 0, 0, 1}, {1, 0, 0, 0}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FirmwareNeedsConfirmation(c.kind, c.file, c.target), c.asks)
            << c.kind << ' ' << c.file.Text() << " vs " << c.target.Text();
    // A target version that could not be read asks, however new the file.
    for (const FirmwareKind kind : {FirmwareBoot, FirmwareProgram})
        EXPECT_TRUE(FirmwareNeedsConfirmation(kind, FirmwareVersion{9, 9, 9, 9}, std::nullopt)) << kind;
}

}  // namespace
}  // namespace fdp
