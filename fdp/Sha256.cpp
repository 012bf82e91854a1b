#include "fdp/Sha256.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <vector>

namespace fdp {

namespace {

constexpr std::array<std::uint32_t, 64> kRound = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t Rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

class Sha256 {
public:
    void Update(std::span<const std::uint8_t> data) {
        for (const std::uint8_t b : data) {
            m_block[m_used++] = b;
            if (m_used == 64) Compress();
        }
        m_bits += static_cast<std::uint64_t>(data.size()) * 8;
    }
    std::string Hex() {
        const std::uint64_t bits = m_bits;
        const std::uint8_t one = 0x80, zero = 0;
        Update(std::span(&one, 1));
        while (m_used != 56) Update(std::span(&zero, 1));
        std::uint8_t length[8];
        for (int i = 0; i < 8; ++i) length[i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
        Update(length);
        std::string hex;
        char digits[9];
        for (const std::uint32_t h : m_state) {
            std::snprintf(digits, sizeof digits, "%08x", h);
            hex += digits;
        }
        return hex;
    }

private:
    void Compress() {
        std::uint32_t w[64];
        for (int i = 0; i < 16; ++i)
            w[i] = (std::uint32_t{m_block[4 * i]} << 24) | (std::uint32_t{m_block[4 * i + 1]} << 16) |
                   (std::uint32_t{m_block[4 * i + 2]} << 8) | m_block[4 * i + 3];
        for (int i = 16; i < 64; ++i) {
            const std::uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const std::uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        auto [a, b, c, d, e, f, g, h] = m_state;
        for (int i = 0; i < 64; ++i) {
            const std::uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
            const std::uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            h = g; g = f; f = e; e = d + t1; d = c; c = b; b = a; a = t1 + t2;
        }
        const std::uint32_t add[8] = {a, b, c, d, e, f, g, h};
        for (int i = 0; i < 8; ++i) m_state[i] += add[i];
        m_used = 0;
    }

    std::array<std::uint32_t, 8> m_state = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                            0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::uint8_t m_block[64] = {};
    std::size_t m_used = 0;
    std::uint64_t m_bits = 0;
};

}  // namespace

std::string Sha256Hex(std::span<const std::uint8_t> data) {
    Sha256 sha;
    sha.Update(data);
    return sha.Hex();
}

std::optional<std::string> Sha256File(const std::string& path) {
    // Non-blocking, so that a FIFO put in the file's place cannot hold the caller (the
    // link's worker) in the open; only a regular file has bytes to digest.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    std::optional<std::string> digest;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        Sha256 sha;
        std::vector<std::uint8_t> chunk(65536);
        for (;;) {
            const ssize_t n = ::read(fd, chunk.data(), chunk.size());
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) break;
            if (n == 0) {
                digest = sha.Hex();
                break;
            }
            sha.Update(std::span(chunk.data(), static_cast<std::size_t>(n)));
        }
    }
    ::close(fd);
    return digest;
}

}  // namespace fdp
