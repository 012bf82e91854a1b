// history.jsonl may be edited, cut short or overwritten by anything: any line must read
// into a record or be refused, without an exception and without reading past it; a
// record read back must write a line that is well-formed UTF-8, valid JSON for a strict
// reader, and reads back to the same record (bytes that are no UTF-8 are replaced once,
// then kept).
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include <nlohmann/json.hpp>

#include "fdp/UpdateHistory.h"
#include "fdp/Utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const auto record = fdp::CUpdateHistory::ParseLine(line);
    if (!record) return 0;
    const std::string again = fdp::CUpdateHistory::FormatLine(*record);
    if (!fdp::IsWellFormedUtf8(again) || !nlohmann::json::accept(again)) std::abort();
    const auto reread = fdp::CUpdateHistory::ParseLine(again);
    if (!reread || *reread != *record || fdp::CUpdateHistory::FormatLine(*reread) != again) std::abort();
    static_cast<void>(fdp::FormatHistoryTable({{1, record}, {2, std::nullopt}}, 0));
    return 0;
}
