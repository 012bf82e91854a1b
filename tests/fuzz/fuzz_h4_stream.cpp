// An H4 byte stream from a controller, cut into reads of fuzzer-chosen sizes, through
// the reassembler into the dongle link's receive callback.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "hci/DongleLink.h"
#include "hci/H4Reassembler.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static hci::CDongleLink link;   // not opened: an accept it would send goes nowhere
    link.ResetLoopReceivedBytes();
    link.SetDongleMaster(size % 2 == 0);
    hci::CH4Reassembler reassembler;
    std::span<const std::uint8_t> rest(data, size);
    while (!rest.empty()) {
        const std::size_t read = 1 + rest.front() % 64;
        rest = rest.subspan(1);
        const auto chunk = rest.first(std::min(read, rest.size()));
        rest = rest.subspan(chunk.size());
        reassembler.Feed(chunk, [](std::span<const std::uint8_t> packet) { link.DongleReceive(0, packet); });
    }
    return 0;
}
