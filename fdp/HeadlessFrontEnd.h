// A front end without wizard pages (command-line tool, benchmark, tests): the pages'
// result handlers do nothing, since such front ends take every result from Notify.
#pragma once

#include "fdp/FdpGui.h"

namespace fdp {

class CHeadlessFrontEnd : public CFdpGui {
public:
    void OnConnectResult(std::uint32_t, std::int32_t) override {}
    void OnTransferResult(std::uint32_t, std::int32_t) override {}
    void OnTraceResult(std::uint32_t, std::int32_t) override {}
    void OnDownloadResult(std::uint32_t, std::int32_t) override {}
    void OnEraseResult(std::uint32_t, std::int32_t) override {}
    void OnParamsResult(std::uint32_t, std::int32_t) override {}
};

}  // namespace fdp
