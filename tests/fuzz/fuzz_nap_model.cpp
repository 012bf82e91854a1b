// Arbitrary frames from the logged-in PC into the simulated target, with every reply checked to
// be a whole frame. Input: frames one after another, each as a 2-byte little-endian
// length (taken modulo 1600) followed by that many bytes.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "fdp/Frame.h"
#include "tools/nap-sim/NapModel.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    napsim::NapConfig config;
    config.challenge = 1;
    config.dropFirstSend = {3};
    config.silenceAfterBlock = 40;
    napsim::CNapModel model(config);
    model.SetSend([](std::span<const std::uint8_t> frame, std::uint32_t) {
        if (frame.size() < 60 || frame.size() > fdp::kMaxFrame) std::abort();
    });

    constexpr fdp::MacAddress kPc = {0x02, 0, 0, 0, 0, 1};
    std::vector<std::uint8_t> login = {0x02, 0x4b, 0x56, 0x00, 0x00, 0x02};
    login.insert(login.end(), kPc.begin(), kPc.end());
    login.insert(login.end(), {0x07, 0x07, fdp::FDP_FRAME_LOGIN, 0, 0, 0, 0});
    const auto response = fdp::MakeLoginResponse(fdp::MakePasswordBlock(config.password), model.Challenge());
    login.insert(login.end(), response.begin(), response.end());
    login.resize(60, 0);
    model.HandleFrame(login);

    std::size_t offset = 0;
    while (offset + 2 <= size) {
        const std::size_t length = std::min<std::size_t>(fdp::ReadLe16(data + offset) % 1600, size - offset - 2);
        offset += 2;
        // Frames come from the logged-in PC, so that the commands are served.
        std::vector<std::uint8_t> frame(data + offset, data + offset + length);
        if (frame.size() >= 12) std::copy(kPc.begin(), kPc.end(), frame.begin() + 6);
        model.HandleFrame(frame);
        offset += length;
        if (length % 7 == 0) model.Announce();
    }
    return 0;
}
