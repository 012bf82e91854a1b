// Arbitrary capture reads and frames through the receiver's walk, the channel's frame
// handling and the command layer's reply handling, in every channel state and group.
// Input: byte 0 picks the channel state (bits 0-1), the group (bits 2-4) and whether the
// rest is a capture read or one bare frame (bit 5); byte 1 sizes the answer buffer.
#include <cstddef>
#include <cstdint>

#include "fdp/LinkSession.h"
#include "fdp/LinkChannel.h"
#include "fdp/LinkProtocol.h"
#include "tests/support/FakePacketDriver.h"
#include "tests/support/RecordingFrontEnd.h"

using namespace fdp;

namespace {

struct Link {
    Link() { engine.Start(&driver, &front); }   // no adapter opened: the worker and the receiver stay parked
    ~Link() { engine.Stop(); }
    test::FakePacketDriver driver;
    test::RecordingFrontEnd front;
    CLinkSession engine;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Link link;
    if (size < 2) return 0;
    const auto state = static_cast<ChannelState>(data[0] & 3);
    const auto group = static_cast<CommandGroup>(((data[0] >> 2) & 7) % 6);
    const bool bareFrame = data[0] & 0x20;
    const std::uint32_t capacity = data[1] * 40u;
    data += 2;
    size -= 2;

    link.engine.Channel()->SetStateForTesting(state);
    link.engine.Protocol()->BeginForTesting(group, MakeBuffer(capacity), capacity);
    if (bareFrame) link.engine.Channel()->HandleFrame(data, static_cast<std::uint32_t>(size));
    else link.engine.Dispatcher()->DispatchCaptured(data, static_cast<std::uint32_t>(size));
    link.engine.Protocol()->BeginForTesting(GroupNone, nullptr, 0);
    return 0;
}
