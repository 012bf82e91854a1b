#include "fdp/Frame.h"

#include <algorithm>

namespace fdp {

PasswordBlock MakePasswordBlock(std::string_view password) {
    PasswordBlock block{};
    const std::size_t n = std::min(password.size(), block.size());
    std::copy_n(reinterpret_cast<const std::uint8_t*>(password.data()), n, block.begin());
    return block;
}

PasswordBlock MakeLoginResponse(const PasswordBlock& password, std::uint32_t challenge) {
    PasswordBlock response = password;
    std::uint8_t mixed[4];
    WriteLe32(mixed, challenge);
    for (std::size_t i = 0; i < 4; ++i) response[12 + i] ^= mixed[i];
    return response;
}

CommandGroup ReplyGroup(std::uint8_t code) {
    switch (code) {
    case FDP_RSP_STATUS_02:
    case FDP_RSP_STATUS_04: return GroupDownload;
    case FDP_RSP_ERASE: return GroupErase;
    case FDP_RSP_PARAMS_DATA:
    case FDP_RSP_PARAMS_END: return GroupGetParams;
    case FDP_RSP_TRANSFER_DATA:
    case FDP_RSP_TRANSFER_END: return GroupTransfer;
    case FDP_RSP_TRACE_LENGTH:
    case FDP_RSP_TRACE_DATA: return GroupGetTrace;
    default: return GroupNone;
    }
}

}  // namespace fdp
