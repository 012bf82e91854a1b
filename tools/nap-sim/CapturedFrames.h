// Walks the capture records of one ReceiveFrames read and hands every whole frame on.
// Records are checked against the bytes read, never trusted: a record that claims
// more than is there ends the walk.
#pragma once

#include <cstdint>
#include <span>

#include "fdp/PacketDriver.h"

namespace napsim {

template <typename OnFrame>
void ForEachCapturedFrame(const std::uint8_t* data, std::uint32_t count, OnFrame&& onFrame) {
    std::size_t offset = 0;
    while (data && offset + fdp::kCaptureHeaderFields <= count) {
        const std::uint8_t* header = data + offset;
        const std::uint32_t caplen = fdp::ReadLe32(header + 8);
        const std::uint32_t wireLen = fdp::ReadLe32(header + 12);
        const std::uint16_t hdrlen = fdp::ReadLe16(header + 16);
        if (hdrlen < fdp::kCaptureHeaderFields) return;
        const std::size_t frameStart = offset + hdrlen;
        if (frameStart > count || caplen > count - frameStart) return;
        if (caplen == wireLen) onFrame(std::span<const std::uint8_t>(data + frameStart, caplen));
        offset = fdp::AlignCaptureRecord(frameStart + caplen);
    }
}

}  // namespace napsim
