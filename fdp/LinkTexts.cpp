#include "fdp/LinkTexts.h"

#include <iterator>

#include "fdp/FdpTypes.h"
#include "resources/strings/StringIds.h"
#include "resources/strings/StringTable.h"

namespace fdp {

using namespace res;

std::string ResultText(unsigned result) {
    static constexpr std::uint8_t kResults[] = {FdpOk,      FdpFailed,    FdpInvalidOperation, FdpTimeout, FdpCancelled,
                                                FdpNoMemory, FdpNotOpened, FdpBusy,             FdpFileError};
    for (unsigned i = 0; i < std::size(kResults); ++i)
        if (kResults[i] == result) return LoadString(IDS_RESULT_FIRST + i);
    return LoadString(IDS_RESULT_UNKNOWN);
}

std::string StageText(Stage stage) {
    if (stage.phase == Stage::Ended) return LoadString(IDS_STAGE_END_FIRST + unsigned{stage.step});
    return LoadString(IDS_STAGE_FIRST + unsigned{stage.step} * 2u + (unsigned{stage.phase} - 1u));
}

std::string ReportStatusText(Stage stage, unsigned result) {
    if (result != 0) {
        // A file that could not be read while transferring says so on the transfer's
        // line: the target did nothing wrong.
        if (stage.IsTransferring() && result == FdpFileError)
            return LoadString(IDS_DOWNLOAD_STOPPED) + " " + ResultText(result);
        return LoadString(IDS_DOWNLOAD_STOPPED);
    }
    // Runs once a block during a transfer: the result text is looked up only for the
    // end of a step, the only stage that shows it.
    std::string status = StageText(stage);
    if (stage.phase == Stage::Ended) status += ResultText(result);
    return status;
}

std::string AdapterLostText(const std::string& adapter, std::optional<Stage> stage) {
    std::string doing;
    if (stage && stage->IsFlashStep()) {
        const std::uint8_t kind = stage->Kind();
        const std::string area = LoadString(kind == KindBoot      ? IDS_AREA_BOOT
                                            : kind == KindProgram ? IDS_AREA_PROGRAM
                                                                  : IDS_AREA_PARAMETER);
        doing = FormatString(stage->IsBurn() ? IDS_LOST_DURING_BURN : IDS_LOST_DURING_ERASE, {area});
    } else if (stage && stage->step == Stage::Transfer) {
        doing = LoadString(IDS_LOST_DURING_TRANSFER);
    } else {
        doing = LoadString(IDS_LOST_DURING_REQUEST);
    }
    return FormatString(IDS_ADAPTER_LOST, {adapter, doing});
}

std::string KindName(std::uint8_t kind) {
    switch (kind) {
    case KindBoot: return "boot";
    case KindProgram: return "program";
    case KindParam: return "param";
    default: return std::to_string(kind);
    }
}

}  // namespace fdp
