#include "archive/Archive.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "fdp/Frame.h"
#include "fdp/Utf8.h"

namespace archive {
namespace {

constexpr std::uint8_t kLongLength = 0xFF;        // a 16-bit length follows
constexpr std::uint16_t kWideMarker = 0xFFFE;     // after 0xFF: a wide text follows
constexpr std::uint16_t kHugeLength = 0xFFFF;     // after 0xFF: a 32-bit length follows
constexpr std::size_t kMaxByteLength = 254;

// UTF-16LE to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16LeToUtf8(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    const auto unit = [&](std::size_t i) {
        return fdp::ReadLe16(reinterpret_cast<const std::uint8_t*>(bytes.data()) + 2 * i);
    };
    const std::size_t units = bytes.size() / 2;
    for (std::size_t i = 0; i < units; ++i) {
        const char32_t u = unit(i);
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < units) {
            const char32_t low = unit(i + 1);
            if (low >= 0xDC00 && low < 0xE000) {
                fdp::AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        fdp::AppendUtf8(out, u >= 0xD800 && u < 0xE000 ? fdp::kReplacementCharacter : u);
    }
    return out;
}

}  // namespace

CArchive::CArchive(int fd, Mode mode) : m_mode(mode), m_fd(fd) {}

CArchive::CArchive(std::span<const std::uint8_t> input) : m_mode(Mode::Load), m_input(input) {}

CArchive::CArchive(std::vector<std::uint8_t>& output) : m_mode(Mode::Store), m_output(&output) {}

void CArchive::Require(Mode mode) const {
    if (m_mode != mode) throw CArchiveException(CArchiveException::Cause::WrongDirection);
}

void CArchive::Fill() {
    m_pos = 0;
    m_end = 0;
    if (m_fd < 0) {
        m_end = std::min(m_input.size(), m_buffer.size());
        std::copy_n(m_input.begin(), m_end, m_buffer.begin());
        m_input = m_input.subspan(m_end);
        return;
    }
    for (;;) {
        const ssize_t n = ::read(m_fd, m_buffer.data(), m_buffer.size());
        if (n >= 0) {
            m_end = static_cast<std::size_t>(n);
            return;
        }
        if (errno != EINTR) throw CArchiveException(CArchiveException::Cause::FileError, errno);
    }
}

void CArchive::ReadInto(std::string& out, std::uint64_t count) {
    Require(Mode::Load);
    while (count > 0) {
        if (m_pos == m_end) {
            Fill();
            if (m_end == 0) throw CArchiveException(CArchiveException::Cause::EndOfFile);
        }
        const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(count, m_end - m_pos));
        out.append(reinterpret_cast<const char*>(m_buffer.data() + m_pos), take);
        m_pos += take;
        count -= take;
    }
}

std::uint8_t CArchive::ReadByte() {
    std::string b;
    ReadInto(b, 1);
    return static_cast<std::uint8_t>(b[0]);
}

std::uint16_t CArchive::ReadUInt16() {
    std::string b;
    ReadInto(b, 2);
    return fdp::ReadLe16(reinterpret_cast<const std::uint8_t*>(b.data()));
}

std::uint32_t CArchive::ReadUInt32() {
    std::string b;
    ReadInto(b, 4);
    return fdp::ReadLe32(reinterpret_cast<const std::uint8_t*>(b.data()));
}

std::uint64_t CArchive::ReadLength() {
    const std::uint8_t shortLength = ReadByte();
    if (shortLength < kLongLength) return shortLength;
    const std::uint16_t length = ReadUInt16();
    if (length < kHugeLength) return length;
    return ReadUInt32();
}

std::string CArchive::ReadString() {
    std::uint64_t length = ReadByte();
    bool wide = false;
    if (length == kLongLength) {
        length = ReadUInt16();
        if (length == kWideMarker) {
            wide = true;
            length = ReadLength();
        } else if (length == kHugeLength) {
            length = ReadUInt32();
        }
    }
    std::string text;
    ReadInto(text, wide ? 2 * length : length);
    return wide ? Utf16LeToUtf8(text) : text;
}

void CArchive::WriteBytes(const std::uint8_t* data, std::size_t count) {
    Require(Mode::Store);
    while (count > 0) {
        if (m_pos == m_buffer.size()) Flush();
        const std::size_t take = std::min(count, m_buffer.size() - m_pos);
        std::copy_n(data, take, m_buffer.begin() + static_cast<std::ptrdiff_t>(m_pos));
        m_pos += take;
        data += take;
        count -= take;
    }
}

void CArchive::WriteUInt32(std::uint32_t value) {
    std::uint8_t bytes[4];
    fdp::WriteLe32(bytes, value);
    WriteBytes(bytes, sizeof bytes);
}

void CArchive::WriteString(std::string_view text) {
    const std::size_t length = text.size();
    std::uint8_t prefix[7] = {kLongLength};
    std::size_t prefixLength = 1;
    if (length <= kMaxByteLength) {
        prefix[0] = static_cast<std::uint8_t>(length);
    } else if (length < kWideMarker) {
        fdp::WriteLe16(prefix + 1, static_cast<std::uint16_t>(length));
        prefixLength = 3;
    } else if (length <= UINT32_MAX) {
        fdp::WriteLe16(prefix + 1, kHugeLength);
        fdp::WriteLe32(prefix + 3, static_cast<std::uint32_t>(length));
        prefixLength = 7;
    } else {
        throw CArchiveException(CArchiveException::Cause::TooLong);
    }
    WriteBytes(prefix, prefixLength);
    WriteBytes(reinterpret_cast<const std::uint8_t*>(text.data()), length);
}

void CArchive::Flush() {
    Require(Mode::Store);
    if (m_output) {
        m_output->insert(m_output->end(), m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(m_pos));
        m_pos = 0;
        return;
    }
    std::size_t done = 0;
    while (done < m_pos) {
        const ssize_t n = ::write(m_fd, m_buffer.data() + done, m_pos - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw CArchiveException(CArchiveException::Cause::FileError, n < 0 ? errno : EIO);
        done += static_cast<std::size_t>(n);
    }
    m_pos = 0;
}

}  // namespace archive
