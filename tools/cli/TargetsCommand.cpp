#include "tools/cli/TargetsCommand.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <nlohmann/json.hpp>

#include "fdp/FormatBdAddr.h"
#include "fdp/JsonLine.h"
#include "fdp/PacketSocketDriver.h"
#include "fdp/TargetScout.h"
#include "resources/strings/StringIds.h"
#include "resources/strings/StringTable.h"
#include "tools/cli/Interrupt.h"
#include "tools/cli/RunReport.h"

namespace cli {

int RunTargets(const TargetsRequest& request, const TargetsSetup& setup) {
    fdp::CPacketSocketDriver driver(setup.broker);
    if (!setup.interfaceName.empty()) driver.SetInterfaceFilter(setup.interfaceName);
    driver.Init(nullptr);
    fdp::CTargetScout scout(driver);
    if (scout.OpenFirstAdapter() < 0) {
        std::string message = res::LoadString(res::IDS_OPEN_ADAPTER_FAILED);
        if (const std::string reason = driver.LastError(); !reason.empty()) message += "\n" + reason;
        std::fprintf(stderr, "%s\n", message.c_str());
        driver.Uninit();
        return 2;
    }
    CInterrupt::SetHook([&scout] { scout.Stop(); });
    auto heard = scout.Listen(std::chrono::seconds(request.seconds));
    CInterrupt::SetHook({});
    driver.Uninit();
    if (setup.target)
        std::erase_if(heard, [&](const fdp::HeardTarget& t) { return t.address != *setup.target; });

    const auto now = std::chrono::steady_clock::now();
    for (const fdp::HeardTarget& t : heard) {
        if (setup.json) {
            const std::string line = fdp::JsonLine(CRunReport::HeardTargetJson(t, now)) + "\n";
            if (::write(setup.jsonFd, line.data(), line.size()) < 0) return 3;
        }
        std::printf("%s\n", HeardTargetLine(t, now).c_str());
    }
    if (heard.empty()) {
        std::fprintf(stderr, "%s\n", res::FormatString(res::IDS_NO_TARGET_HEARD, {std::to_string(request.seconds)}).c_str());
        return ExitNoTargetHeard;
    }
    return 0;
}

std::string HeardTargetLine(const fdp::HeardTarget& target, std::chrono::steady_clock::time_point now) {
    const auto agoMs = std::chrono::duration_cast<std::chrono::milliseconds>(now - target.lastSeen).count();
    return res::FormatString(res::IDS_TARGET_HEARD,
                             {FormatBdAddr(target.address), target.adapter, std::to_string(target.announces),
                              std::to_string(agoMs / 1000) + "." + std::to_string(agoMs % 1000 / 100)});
}

}  // namespace cli
