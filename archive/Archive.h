// CArchive: the byte encoding of the settings file kelvane.ini, read or written
// through a 4096-byte buffer.
//
// 32-bit values are 4 bytes little-endian. A text is a length prefix and its bytes
// (UTF-8 here, no terminator). The prefix is one byte for a length up to 254; else
// 0xFF and a 16-bit length below 0xFFFE; else 0xFF, 0xFFFF and a 32-bit length.
// A reader also takes the wide form, which this program never writes: 0xFF 0xFE 0xFF,
// a prefix counting characters, then UTF-16LE characters; it comes back as UTF-8.
//
// Every failure throws CArchiveException: a read past the end of the data, a file
// error, use in the wrong direction. A text's bytes are gathered as they arrive, so a
// length prefix that claims more than the data holds costs no more memory than the
// data itself.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "archive/ArchiveException.h"

namespace archive {

class CArchive {
public:
    enum class Mode { Load, Store };
    static constexpr std::size_t kBufferSize = 4096;

    // Reads from or writes to an open descriptor, which the caller keeps and closes.
    CArchive(int fd, Mode mode);
    // Loads from bytes that outlive the archive.
    explicit CArchive(std::span<const std::uint8_t> input);
    // Stores by appending to output, which outlives the archive.
    explicit CArchive(std::vector<std::uint8_t>& output);
    // Nothing more is written on destruction: call Flush when the records are done, so
    // that an archive abandoned after an error leaves the file as far as it got.
    ~CArchive() = default;
    CArchive(const CArchive&) = delete;
    CArchive& operator=(const CArchive&) = delete;

    bool IsStoring() const { return m_mode == Mode::Store; }

    void WriteUInt32(std::uint32_t value);
    void WriteInt32(std::int32_t value) { WriteUInt32(static_cast<std::uint32_t>(value)); }
    void WriteString(std::string_view text);
    std::uint32_t ReadUInt32();
    std::int32_t ReadInt32() { return static_cast<std::int32_t>(ReadUInt32()); }
    std::string ReadString();

    // Writes out what the buffer holds.
    void Flush();

private:
    std::uint8_t ReadByte();
    std::uint16_t ReadUInt16();
    std::uint64_t ReadLength();
    void ReadInto(std::string& out, std::uint64_t count);
    void WriteBytes(const std::uint8_t* data, std::size_t count);
    void Fill();
    void Require(Mode mode) const;

    Mode m_mode;
    int m_fd = -1;
    std::span<const std::uint8_t> m_input;
    std::vector<std::uint8_t>* m_output = nullptr;
    std::array<std::uint8_t, kBufferSize> m_buffer{};
    std::size_t m_pos = 0;   // next byte to read, or bytes waiting to be written
    std::size_t m_end = 0;   // bytes in the buffer (loading)
};

}  // namespace archive
