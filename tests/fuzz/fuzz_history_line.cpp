// history.jsonl may be edited, cut short or overwritten by anything: any line must parse
// or be refused without reading past it, and a record read back must write a line that
// reads back to the same record (bytes that are no UTF-8 are replaced once, then kept).
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "fdp/UpdateHistory.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const auto record = fdp::CUpdateHistory::ParseLine(line);
    if (!record) return 0;
    const std::string again = fdp::CUpdateHistory::FormatLine(*record);
    const auto reread = fdp::CUpdateHistory::ParseLine(again);
    if (!reread || fdp::CUpdateHistory::FormatLine(*reread) != again || reread->size != record->size ||
        reread->durationMs != record->durationMs || reread->stageCode != record->stageCode)
        std::abort();
    static_cast<void>(fdp::FormatHistoryTable({{1, record}, {2, std::nullopt}}, 0));
    return 0;
}
