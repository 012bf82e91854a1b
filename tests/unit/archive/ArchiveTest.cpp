#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "archive/Archive.h"
#include "tests/unit/param/ScratchDir.h"

namespace archive {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Store(const std::string& text) {
    Bytes out;
    CArchive ar(out);
    ar.WriteString(text);
    ar.Flush();
    return out;
}

std::string LoadString(const Bytes& bytes) {
    CArchive ar{std::span<const std::uint8_t>(bytes)};
    return ar.ReadString();
}

TEST(Archive, TextPrefixGrowsWithTheLength) {
    const struct {
        std::size_t length;
        Bytes prefix;
    } cases[] = {
        {0, {0x00}},
        {5, {0x05}},
        {254, {0xFE}},
        {255, {0xFF, 0xFF, 0x00}},
        {0xFFFD, {0xFF, 0xFD, 0xFF}},
        {0xFFFE, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
        {70000, {0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00}},
    };
    for (const auto& c : cases) {
        std::string text(c.length, 'a');
        if (!text.empty()) text.back() = 'z';
        const Bytes stored = Store(text);
        ASSERT_EQ(stored.size(), c.prefix.size() + c.length) << c.length;
        EXPECT_EQ(Bytes(stored.begin(), stored.begin() + static_cast<std::ptrdiff_t>(c.prefix.size())), c.prefix)
            << c.length;
        EXPECT_EQ(LoadString(stored), text) << c.length;
    }
}

TEST(Archive, ValuesAreFourBytesLittleEndian) {
    Bytes out;
    CArchive ar(out);
    ar.WriteInt32(-1);
    ar.WriteUInt32(0x12345678);
    ar.WriteInt32(0);
    ar.Flush();
    EXPECT_EQ(out, (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x78, 0x56, 0x34, 0x12, 0, 0, 0, 0}));

    CArchive in{std::span<const std::uint8_t>(out)};
    EXPECT_EQ(in.ReadInt32(), -1);
    EXPECT_EQ(in.ReadUInt32(), 0x12345678u);
    EXPECT_EQ(in.ReadInt32(), 0);
    EXPECT_FALSE(in.IsStoring());
}

TEST(Archive, WideTextsComeBackAsUtf8) {
    const struct {
        const char* name;
        Bytes stored;
        std::string text;
    } cases[] = {
        {"latin", {0xFF, 0xFE, 0xFF, 0x02, 'h', 0, 0xE9, 0}, "h\xC3\xA9"},
        {"cjk", {0xFF, 0xFE, 0xFF, 0x01, 0x2D, 0x4E}, "\xE4\xB8\xAD"},
        {"surrogate pair", {0xFF, 0xFE, 0xFF, 0x02, 0x3D, 0xD8, 0x00, 0xDE}, "\xF0\x9F\x98\x80"},
        {"lone surrogate", {0xFF, 0xFE, 0xFF, 0x02, 0x3D, 0xD8, 'a', 0}, "\xEF\xBF\xBD" "a"},
        {"empty", {0xFF, 0xFE, 0xFF, 0x00}, ""},
        {"16-bit count", [] {
             Bytes b{0xFF, 0xFE, 0xFF, 0xFF, 0x00, 0x01};
             for (int i = 0; i < 256; ++i) b.insert(b.end(), {'w', 0});
             return b;
         }(),
         std::string(256, 'w')},
    };
    for (const auto& c : cases) EXPECT_EQ(LoadString(c.stored), c.text) << c.name;
}

TEST(Archive, ReadingPastTheEndIsAnArchiveError) {
    const struct {
        const char* name;
        Bytes stored;
        bool text;
    } cases[] = {
        {"no value", {}, false},
        {"short value", {1, 2, 3}, false},
        {"no prefix", {}, true},
        {"short text", {0x05, 'a', 'b', 'c'}, true},
        {"short 16-bit prefix", {0xFF, 0x01}, true},
        {"short wide text", {0xFF, 0xFE, 0xFF, 0x02, 'a', 0}, true},
        {"huge claimed length", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 'a', 'b'}, true},
        {"huge wide length", {0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, true},
    };
    for (const auto& c : cases) {
        CArchive ar{std::span<const std::uint8_t>(c.stored)};
        try {
            if (c.text) ar.ReadString();
            else ar.ReadUInt32();
            ADD_FAILURE() << c.name << ": no error";
        } catch (const CArchiveException& e) {
            EXPECT_EQ(e.cause(), CArchiveException::Cause::EndOfFile) << c.name;
        }
    }
}

TEST(Archive, RefusesUseInTheWrongDirection) {
    Bytes out;
    CArchive storing(out);
    EXPECT_THROW(storing.ReadUInt32(), CArchiveException);
    CArchive loading{std::span<const std::uint8_t>(out)};
    EXPECT_THROW(loading.WriteUInt32(1), CArchiveException);
    EXPECT_THROW(loading.Flush(), CArchiveException);
}

// Texts and values that straddle the 4096-byte buffer, through a real file.
TEST(Archive, FileRoundTripAcrossBufferBoundaries) {
    kelvane_test::ScratchDir dir;
    const auto path = dir / "archive.bin";
    const std::string big(10000, 'q');
    {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        CArchive ar(fd, CArchive::Mode::Store);
        EXPECT_TRUE(ar.IsStoring());
        ar.WriteString(std::string(4093, 'p'));   // 1 + 4093 bytes: the value straddles
        ar.WriteUInt32(0xCAFEF00D);
        ar.WriteString(big);
        ar.Flush();
        ::close(fd);
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    CArchive ar(fd, CArchive::Mode::Load);
    EXPECT_EQ(ar.ReadString(), std::string(4093, 'p'));
    EXPECT_EQ(ar.ReadUInt32(), 0xCAFEF00Du);
    EXPECT_EQ(ar.ReadString(), big);
    try {
        ar.ReadUInt32();
        ADD_FAILURE() << "read past the end";
    } catch (const CArchiveException& e) {
        EXPECT_EQ(e.cause(), CArchiveException::Cause::EndOfFile);
    }
    ::close(fd);
}

TEST(Archive, ReadErrorIsAFileError) {
    kelvane_test::ScratchDir dir;
    const int fd = ::open((dir / ".").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    CArchive ar(fd, CArchive::Mode::Load);
    try {
        ar.ReadUInt32();
        ADD_FAILURE() << "no error";
    } catch (const CArchiveException& e) {
        EXPECT_EQ(e.cause(), CArchiveException::Cause::FileError);
        EXPECT_EQ(e.error(), EISDIR);
    }
    ::close(fd);
}

}  // namespace
}  // namespace archive
