// The digest that names a downloaded file in kelvane-cli's report and in the update
// history: the same lower-case hex as sha256sum prints, for files read in more than one
// piece too, and nothing (not the digest of no bytes) for a file that cannot be read.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fdp/Sha256.h"
#include "tests/unit/param/ScratchDir.h"

namespace {

using kelvane_test::ScratchDir;
using kelvane_test::WriteFile;

std::vector<std::uint8_t> Counting(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i);
    return bytes;
}

TEST(Sha256Test, FileDigestIsSha256sumsHex) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> content;
        const char* hex;   // from sha256sum
    };
    const Case cases[] = {
        {"empty.bin", {}, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc.bin", {'a', 'b', 'c'}, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        // 0x00..0xff repeated over 65,636 bytes: longer than one read of the file
        {"long.bin", Counting(65636), "2a0024ff93fb22e3ae3a8adc3af7f5c3fcbf03f0edaa52161d63e2ba9249d665"},
    };
    ScratchDir dir;
    for (const Case& c : cases) {
        WriteFile(dir / c.name, c.content);
        EXPECT_EQ(fdp::Sha256File((dir / c.name).string()), std::optional<std::string>(c.hex)) << c.name;
        EXPECT_EQ(fdp::Sha256Hex(c.content), c.hex) << c.name;
    }
}

TEST(Sha256Test, UnreadableFileHasNoDigest) {
    ScratchDir dir;
    EXPECT_EQ(fdp::Sha256File((dir / "missing.bin").string()), std::nullopt);
    EXPECT_EQ(fdp::Sha256File((dir / "").string()), std::nullopt) << "a directory";
}

}  // namespace
