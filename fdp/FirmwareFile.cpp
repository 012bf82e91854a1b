#include "fdp/FirmwareFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>

namespace fdp {

namespace {

// A branch to 0x40, then seven loads of the program counter from the literal pool.
constexpr std::uint8_t kVectorsA[kSignatureLen] = {
    0x0E, 0x00, 0x00, 0xEA, 0x18, 0xF0, 0x9F, 0xE5, 0x18, 0xF0, 0x9F, 0xE5, 0x18, 0xF0, 0x9F, 0xE5,
    0x18, 0xF0, 0x9F, 0xE5, 0x18, 0xF0, 0x9F, 0xE5, 0x18, 0xF0, 0x9F, 0xE5, 0x18, 0xF0, 0x9F, 0xE5};
// A branch to 0x68, five loads from the literal pool, two loads at -0xF20.
constexpr std::uint8_t kVectorsB[kSignatureLen] = {
    0x18, 0x00, 0x00, 0xEA, 0x18, 0xF0, 0x9F, 0xE5, 0x18, 0xF0, 0x9F, 0xE5, 0x18, 0xF0, 0x9F, 0xE5,
    0x18, 0xF0, 0x9F, 0xE5, 0x18, 0xF0, 0x9F, 0xE5, 0x20, 0xFF, 0x1F, 0xE5, 0x20, 0xFF, 0x1F, 0xE5};

// An open regular file, closed with the object.
class ReadOnlyFile {
public:
    explicit ReadOnlyFile(const std::string& path) {
        do {
            m_fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        } while (m_fd < 0 && errno == EINTR);
        struct stat info {};
        if (m_fd >= 0 && (::fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode))) Close();
        if (m_fd >= 0) m_size = static_cast<std::uint64_t>(info.st_size);
    }
    ~ReadOnlyFile() { Close(); }
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    std::uint64_t Size() const { return m_size; }
    // Reads up to length bytes at offset; what cannot be read stays zero.
    bool ReadAt(std::uint64_t offset, std::uint8_t* out, std::size_t length) const {
        std::size_t done = 0;
        while (done < length) {
            const ssize_t got = ::pread(m_fd, out + done, length - done, static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) return false;
            if (got == 0) break;
            done += static_cast<std::size_t>(got);
        }
        return true;
    }

private:
    void Close() {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }
    int m_fd = -1;
    std::uint64_t m_size = 0;
};

unsigned Check(FirmwareKind kind, std::uint32_t checkMask, const ReadOnlyFile& file) {
    if (!file.IsOpen()) return FileCheckCannotOpen;
    if (kind == FirmwareBoot && (checkMask & CheckBootSize) && !kBootSizeWindow.Holds(file.Size()))
        return FileCheckBootSize;
    if (kind == FirmwareProgram && (checkMask & CheckProgramSize) && !kProgramSizeWindow.Holds(file.Size()))
        return FileCheckProgramSize;
    if (checkMask & CheckSignature) {
        std::uint8_t head[kSignatureLen] = {};
        if (!file.ReadAt(0, head, sizeof head)) return FileCheckCannotOpen;
        if (!SignatureMatches(head, sizeof head)) return FileCheckSignature;
    }
    return FileCheckOk;
}

unsigned NoPath(FirmwareKind kind) { return kind == FirmwareBoot ? FileCheckNoBootPath : FileCheckNoProgramPath; }

}  // namespace

unsigned FileCheckTextId(unsigned result) {
    static constexpr unsigned kTexts[] = {3000, 3004, 3001, 3002, 3003, 3006, 3005};
    return result < std::size(kTexts) ? kTexts[result] : kTexts[0];
}

bool SignatureMatches(const std::uint8_t* bytes, std::size_t length) {
    for (std::size_t i = 0; i < kSignatureLen; ++i) {
        const std::uint8_t byte = i < length ? bytes[i] : 0;
        if (byte != kVectorsA[i] && byte != kVectorsB[i]) return false;
    }
    return true;
}

unsigned CheckFirmwareFile(FirmwareKind kind, const std::string& path, std::uint32_t checkMask) {
    if (path.empty()) return NoPath(kind);
    const ReadOnlyFile file(path);
    return Check(kind, checkMask, file);
}

unsigned ReadFileVersion(FirmwareKind kind, const std::string& path, std::uint32_t checkMask, FirmwareVersion& version) {
    if (path.empty()) return NoPath(kind);
    const ReadOnlyFile file(path);
    if (const unsigned result = Check(kind, checkMask, file); result != FileCheckOk) return result;
    std::uint8_t word[4] = {};
    if (!file.ReadAt(kVersionOffset, word, sizeof word)) return FileCheckCannotOpen;
    version = FirmwareVersion::FromLe(word);
    return FileCheckOk;
}

bool FirmwareNeedsConfirmation(FirmwareKind kind, const FirmwareVersion& file,
                               const std::optional<FirmwareVersion>& target) {
    if (!target) return true;
    int targetValue = target->Value();
    if (kind == FirmwareProgram && targetValue == FirmwareVersion::kNoFirmwareValue) targetValue = 0;
    return !(targetValue < file.Value());
}

std::optional<FirmwareKind> FirmwareKindBySize(std::uint64_t size) {
    if (kBootSizeWindow.Holds(size)) return FirmwareBoot;
    if (kProgramSizeWindow.Holds(size)) return FirmwareProgram;
    return std::nullopt;
}

std::vector<std::uint8_t> MakeSampleFirmware(std::size_t size, const FirmwareVersion& version) {
    std::vector<std::uint8_t> image(size);
    for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
    for (std::size_t i = 0; i < kSignatureLen && i < size; ++i) image[i] = kVectorsA[i];
    const std::uint8_t word[4] = {version.d, version.c, version.b, version.a};
    for (std::size_t i = 0; i < 4 && kVersionOffset + i < size; ++i) image[kVersionOffset + i] = word[i];
    return image;
}

}  // namespace fdp
