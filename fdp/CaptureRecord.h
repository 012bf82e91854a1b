// The capture-record format in which a packet driver hands over the frames of one read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "fdp/FrameCodec.h"

namespace fdp {

// One captured frame in the receive buffer: a header, then the frame at hdrlen bytes
// from the header's start; the next record starts at the next multiple of 4 after
// the frame's captured end (offsets from the buffer's start).
struct CaptureHeader {
    std::uint32_t tvSec;
    std::uint32_t tvUsec;
    std::uint32_t caplen;    // bytes of the frame present in the buffer
    std::uint32_t datalen;   // the frame's length on the wire
    std::uint16_t hdrlen;    // this header's length, padding included
};
inline constexpr std::size_t kCaptureHeaderFields = 18;   // bytes the fields occupy
inline constexpr std::size_t kCaptureHeaderLen = 20;      // the least room drivers give a header

inline std::size_t AlignCaptureRecord(std::size_t offset) { return (offset + 3) & ~std::size_t{3}; }

// Appends one capture record at offset; returns the offset of the next record, or
// 0 when the frame does not fit into the buffer.
std::size_t AppendCaptureRecord(std::span<std::uint8_t> buffer, std::size_t offset,
                                std::span<const std::uint8_t> frame, std::uint32_t wireLen);

// Writes the header of a record whose frame, captured whole, lies hdrlen bytes after it:
// no time stamp, as no reader looks at one.
inline void WriteCaptureHeader(std::uint8_t* record, std::uint32_t length, std::uint16_t hdrlen) {
    std::memset(record, 0, kCaptureHeaderFields);
    WriteLe32(record + 8, length);
    WriteLe32(record + 12, length);
    WriteLe16(record + 16, hdrlen);
}

// Walks the capture records of one ReceiveFrames read and hands every frame captured
// whole to onFrame, which returns false to end the walk. Records are checked against the
// bytes read, never trusted: a record that claims more than is there ends the walk.
template <typename OnFrame>
void ForEachCapturedFrame(const std::uint8_t* data, std::uint32_t count, OnFrame&& onFrame) {
    std::size_t offset = 0;
    while (data && offset + kCaptureHeaderFields <= count) {
        const std::uint8_t* header = data + offset;
        const std::uint32_t caplen = ReadLe32(header + 8);
        const std::uint32_t wireLen = ReadLe32(header + 12);
        const std::uint16_t hdrlen = ReadLe16(header + 16);
        if (hdrlen < kCaptureHeaderFields) return;   // cannot advance safely
        const std::size_t frameStart = offset + hdrlen;
        if (frameStart > count || caplen > count - frameStart) return;
        if (caplen == wireLen && !onFrame(std::span<const std::uint8_t>(data + frameStart, caplen))) return;
        offset = AlignCaptureRecord(frameStart + caplen);
    }
}

}  // namespace fdp
