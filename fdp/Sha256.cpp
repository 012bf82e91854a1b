#include "fdp/Sha256.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <cerrno>
#include <memory>
#include <vector>

namespace fdp {

namespace {

struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Context = std::unique_ptr<EVP_MD_CTX, ContextFree>;

Context NewSha256() {
    Context context(EVP_MD_CTX_new());
    if (context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) context.reset();
    return context;
}

std::optional<std::string> FinalHex(EVP_MD_CTX* context) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context, digest, &length) != 1) return std::nullopt;
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        hex += kDigits[digest[i] >> 4];
        hex += kDigits[digest[i] & 0x0f];
    }
    return hex;
}

std::optional<std::string> DigestOpenFile(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    const Context context = NewSha256();
    if (!context) return std::nullopt;
    std::vector<std::uint8_t> chunk(65536);
    for (;;) {
        const ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;   // no digest rather than the digest of what was read
        if (n == 0) return FinalHex(context.get());
        if (EVP_DigestUpdate(context.get(), chunk.data(), static_cast<std::size_t>(n)) != 1) return std::nullopt;
    }
}

}  // namespace

std::string Sha256Hex(std::span<const std::uint8_t> data) {
    const Context context = NewSha256();
    if (!context || EVP_DigestUpdate(context.get(), data.data(), data.size()) != 1) return {};
    return FinalHex(context.get()).value_or(std::string());
}

std::optional<std::string> Sha256File(const std::string& path) {
    // Non-blocking, so that a FIFO put in the file's place cannot hold the caller (the
    // link's worker) in the open; only a regular file has bytes to digest.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::optional<std::string> digest = DigestOpenFile(fd);
    ::close(fd);
    return digest;
}

}  // namespace fdp
