#include "fdp/FrameCodec.h"

#include <algorithm>

namespace fdp {

std::optional<DataView> ParseData(std::span<const std::uint8_t> body) {
    if (body.size() < 3) return std::nullopt;
    DataView view;
    view.code = body[0];
    view.declared = ReadLe16(&body[1]);
    const auto received = body.subspan(3);
    view.data = received.first(std::min<std::size_t>(view.declared, received.size()));
    return view;
}

std::size_t BuildFrame(std::span<std::uint8_t> out, std::span<const std::uint8_t, kEthAddrLen> destination,
                       std::span<const std::uint8_t, kEthAddrLen> source, std::span<const std::uint8_t> payload) {
    if (payload.size() > kMaxPayload) return 0;
    const std::size_t length = kEthHeaderLen + std::max(payload.size(), kMinPayload);
    if (out.size() < length) return 0;
    std::copy(destination.begin(), destination.end(), out.begin());
    std::copy(source.begin(), source.end(), out.begin() + kEthAddrLen);
    out[12] = static_cast<std::uint8_t>(FDP_ETHERTYPE >> 8);
    out[13] = static_cast<std::uint8_t>(FDP_ETHERTYPE & 0xFF);
    const auto end = std::copy(payload.begin(), payload.end(), out.begin() + kEthHeaderLen);
    std::fill(end, out.begin() + static_cast<std::ptrdiff_t>(length), std::uint8_t{0});
    return length;
}

std::optional<FrameView> ParseFrame(std::span<const std::uint8_t> frame) {
    if (frame.size() < kBodyOffset) return std::nullopt;
    if (ReadLe16(&frame[12]) != FDP_ETHERTYPE) return std::nullopt;   // 07 07 reads the same either way
    FrameView view;
    std::copy_n(frame.begin() + 6, kEthAddrLen, view.source.begin());
    view.type = frame[kFrameTypeOffset];
    view.body = frame.subspan(kBodyOffset);
    return view;
}

}  // namespace fdp
