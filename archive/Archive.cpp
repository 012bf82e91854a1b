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

CArchive::CArchive(int fd, Mode mode) : mode_(mode), fd_(fd) {}

CArchive::CArchive(std::span<const std::uint8_t> input) : mode_(Mode::Load), input_(input) {}

CArchive::CArchive(std::vector<std::uint8_t>& output) : mode_(Mode::Store), output_(&output) {}

void CArchive::Require(Mode mode) const {
    if (mode_ != mode) throw ArchiveException(ArchiveException::Cause::WrongDirection);
}

void CArchive::Fill() {
    pos_ = 0;
    end_ = 0;
    if (fd_ < 0) {
        end_ = std::min(input_.size(), buffer_.size());
        std::copy_n(input_.begin(), end_, buffer_.begin());
        input_ = input_.subspan(end_);
        return;
    }
    for (;;) {
        const ssize_t n = ::read(fd_, buffer_.data(), buffer_.size());
        if (n >= 0) {
            end_ = static_cast<std::size_t>(n);
            return;
        }
        if (errno != EINTR) throw ArchiveException(ArchiveException::Cause::FileError, errno);
    }
}

void CArchive::ReadInto(std::string& out, std::uint64_t count) {
    Require(Mode::Load);
    while (count > 0) {
        if (pos_ == end_) {
            Fill();
            if (end_ == 0) throw ArchiveException(ArchiveException::Cause::EndOfFile);
        }
        const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(count, end_ - pos_));
        out.append(reinterpret_cast<const char*>(buffer_.data() + pos_), take);
        pos_ += take;
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
        if (pos_ == buffer_.size()) Flush();
        const std::size_t take = std::min(count, buffer_.size() - pos_);
        std::copy_n(data, take, buffer_.begin() + static_cast<std::ptrdiff_t>(pos_));
        pos_ += take;
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
        throw ArchiveException(ArchiveException::Cause::TooLong);
    }
    WriteBytes(prefix, prefixLength);
    WriteBytes(reinterpret_cast<const std::uint8_t*>(text.data()), length);
}

void CArchive::Flush() {
    Require(Mode::Store);
    if (output_) {
        output_->insert(output_->end(), buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(pos_));
        pos_ = 0;
        return;
    }
    std::size_t done = 0;
    while (done < pos_) {
        const ssize_t n = ::write(fd_, buffer_.data() + done, pos_ - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw ArchiveException(ArchiveException::Cause::FileError, n < 0 ? errno : EIO);
        done += static_cast<std::size_t>(n);
    }
    pos_ = 0;
}

}  // namespace archive
