#include "tools/bench/EchoTarget.h"

#include <cstdio>
#include <cstring>

#include "fdp/Frame.h"
#include "fdp/PacketDriver.h"
#include "fdp/PacketSocketDriver.h"

namespace bench {

namespace {

// The reply a download-group or erase command gets; 0 for a frame left unanswered.
std::uint8_t ReplyCodeFor(std::uint8_t command) {
    switch (command) {
    case fdp::FDP_CMD_START:
    case fdp::FDP_CMD_BURN:
    case fdp::FDP_CMD_ABORT:
    case 0x01:   // data blocks carry their download kind as the code
    case 0x03:
    case 0x05: return fdp::FDP_RSP_STATUS_02;
    case 0x11:
    case 0x13:
    case 0x15: return fdp::FDP_RSP_ERASE;
    default: return 0;
    }
}

}  // namespace

int RunEchoTarget(const char* interfaceName) {
    fdp::CPacketSocketDriver driver;
    driver.UseOwnSocket();   // the target's side: no broker, as on a device
    driver.Init(nullptr);
    driver.SetInterfaceFilter(interfaceName);
    if (driver.EnumerateAdapters() < 1 || driver.OpenAdapter(0) != fdp::OpenOk) {
        std::fprintf(stderr, "kelvane-bench: cannot open %s: %s\n", interfaceName, driver.LastError().c_str());
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    static constexpr std::uint8_t kBroadcast[fdp::kEthAddrLen] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
    std::uint8_t announce[fdp::kAnnounceLen] = {fdp::FDP_FRAME_ANNOUNCE};
    fdp::WriteLe32(announce + 1, 0x5eed);
    std::uint8_t loginReply[2] = {fdp::FDP_FRAME_LOGIN_REPLY, fdp::LoginAccepted};
    std::uint8_t status[5] = {fdp::FDP_FRAME_DATA, 0, 1, 0, 0};
    bool loggedIn = false;
    for (;;) {
        // Until a PC logs in, an announce goes out after every read (at least once a
        // second, the driver's read time-out).
        if (!loggedIn) driver.SendFrame(kBroadcast, announce, sizeof announce);
        std::uint32_t count = 0;
        const std::uint8_t* data = driver.ReceiveFrames(count);
        fdp::ForEachCapturedFrame(data, count, [&](std::span<const std::uint8_t> bytes) {
            const auto frame = fdp::ParseFrame(bytes);
            if (!frame) return true;
            if (frame->type == fdp::FDP_FRAME_LOGIN) {
                loggedIn = true;
                driver.SendFrame(frame->source.data(), loginReply, sizeof loginReply);
            } else if (frame->type == fdp::FDP_FRAME_DATA && !frame->body.empty()) {
                if (const std::uint8_t reply = ReplyCodeFor(frame->body[0])) {
                    status[1] = reply;
                    driver.SendFrame(frame->source.data(), status, sizeof status);
                }
            }
            return true;
        });
    }
}

}  // namespace bench
