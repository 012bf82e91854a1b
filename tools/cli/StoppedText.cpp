#include "tools/cli/StoppedText.h"

#include "fdp/FdpTypes.h"
#include "resources/strings/StringIds.h"
#include "resources/strings/StringTable.h"

namespace cli {

std::string StoppedText(Stopped during, const std::string& step, std::uint8_t kind) {
    const std::string area = res::LoadString(kind == fdp::KindBoot      ? res::IDS_AREA_BOOT
                                             : kind == fdp::KindProgram ? res::IDS_AREA_PROGRAM
                                                                        : res::IDS_AREA_PARAMETER);
    if (during == Stopped::Listening) return res::LoadString(res::IDS_STOPPED_LISTENING);
    if (during == Stopped::Download && step == "transfer") return res::FormatString(res::IDS_STOPPED_TRANSFER, {area});
    if (step == "erase") return res::FormatString(res::IDS_STOPPED_ERASE, {area});
    if (step == "burn") return res::FormatString(res::IDS_STOPPED_BURN, {area});
    return res::LoadString(res::IDS_STOPPED_REQUEST);
}

}  // namespace cli
