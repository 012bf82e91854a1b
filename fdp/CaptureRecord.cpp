#include "fdp/CaptureRecord.h"

#include <cstring>

namespace fdp {

std::size_t AppendCaptureRecord(std::span<std::uint8_t> buffer, std::size_t offset,
                                std::span<const std::uint8_t> frame, std::uint32_t wireLen) {
    const std::size_t end = offset + kCaptureHeaderLen + frame.size();
    if (offset > buffer.size() || end > buffer.size()) return 0;
    std::uint8_t* h = buffer.data() + offset;
    std::memset(h, 0, kCaptureHeaderLen);
    WriteLe32(h + 8, static_cast<std::uint32_t>(frame.size()));
    WriteLe32(h + 12, wireLen);
    WriteLe16(h + 16, static_cast<std::uint16_t>(kCaptureHeaderLen));
    if (!frame.empty()) std::memcpy(h + kCaptureHeaderLen, frame.data(), frame.size());
    return AlignCaptureRecord(end);
}

}  // namespace fdp
