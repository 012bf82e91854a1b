// kelvane-cli: the device link from the command line, for scripts and production lines.
// Opens the adapter, logs in and runs one operation, printing the wizard's texts.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fdp/FdpEngine.h"
#include "fdp/FirmwareVersion.h"
#include "fdp/PcapDriver.h"
#include "resources/strings/StringTable.h"
#include "tools/cli/CliFrontEnd.h"

using namespace fdp;
using namespace std::chrono_literals;

namespace {

// Exit codes: 0 success; 1 usage; 2 no adapter opened; 3 the link files could not be
// created; 20 + ConnectResult when the login failed; 40 + result when the operation
// failed (41 failed, 43 time-out, 50 file error, 40 + a target status byte ...).
constexpr int ExitOk = 0, ExitUsage = 1, ExitNoAdapter = 2, ExitFiles = 3, ExitConnect = 20, ExitOperation = 40;
constexpr unsigned kOk = FdpOk, kFailed = FdpFailed, kTimeout = FdpTimeout;

int OperationExit(unsigned result) { return result == 0 ? ExitOk : static_cast<int>(std::min(255u, ExitOperation + result)); }

void Usage() {
    std::fprintf(stderr,
                 "usage: kelvane-cli [--interface IF] [--password PW] [--folder DIR] [--no-progress] OPERATION\n"
                 "operations:\n"
                 "  download boot|program|param FILE   transfer, erase and burn a flash area\n"
                 "  erase boot|program|param            erase a flash area\n"
                 "  params OUT                          save the target's 8192-byte parameter block\n"
                 "  trace OUT                           save the target's trace text\n"
                 "  version boot|program                print the target's firmware version\n"
                 "  diagnose                            run the target's hardware self test\n"
                 "  testmode                            put the target's Bluetooth module into test mode\n"
                 "exit: 0 ok, 1 usage, 2 no adapter, 3 files, 20+connect result, 40+operation result\n");
}

bool KindFromName(const std::string& name, std::uint8_t& kind) {
    if (name == "boot") kind = KindBoot;
    else if (name == "program") kind = KindProgram;
    else if (name == "param") kind = KindParam;
    else return false;
    return true;
}

std::string ProgramFolder() {
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string(".") : exe.parent_path().string();
}

bool WriteBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return static_cast<bool>(out);
}

const char* ConnectText(unsigned result) {
    switch (result) {
    case ConnectOk: return "Connected with:";
    case ConnectTimeout: return "Connect Timeout";
    default: return "Connect Failed";
    }
}

struct Options {
    std::string interface;
    std::string password = "4826";
    std::string folder;
    bool progress = isatty(STDERR_FILENO) != 0;
    std::vector<std::string> operation;
};

bool Parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) return false;
            into = argv[++i];
            return true;
        };
        if (arg == "--interface") { if (!value(options.interface)) return false; }
        else if (arg == "--password") { if (!value(options.password)) return false; }
        else if (arg == "--folder") { if (!value(options.folder)) return false; }
        else if (arg == "--no-progress") options.progress = false;
        else if (arg == "-h" || arg == "--help") return false;
        else options.operation.push_back(arg);
    }
    return !options.operation.empty();
}

// Waits for a transfer's answer; the whole answer may take the link's transfer time.
unsigned RunTransfer(cli::CCliFrontEnd& front, CFdpEngine& engine, int submitted) {
    if (submitted != 0) {
        std::printf("%s\n", front.resultText().c_str());
        return FdpBusy;
    }
    const auto result = front.WaitResult(WM_FDP_TRANSFER, std::chrono::milliseconds(engine.Timeouts().transfer) + 2s);
    if (!result) return engine.CurrentJob() == JobNone ? kFailed : kTimeout;   // no message: a target status
    return result->wParam == NotifySuccess ? kOk : result->wParam == NotifyTimeout ? kTimeout : kFailed;
}

int Run(const Options& options) {
    const std::string& op = options.operation[0];
    const auto arg = [&](std::size_t i) { return i < options.operation.size() ? options.operation[i] : std::string(); };
    std::uint8_t kind = 0;
    if ((op == "download" && (!KindFromName(arg(1), kind) || arg(2).empty())) ||
        (op == "erase" && !KindFromName(arg(1), kind)) || ((op == "params" || op == "trace") && arg(1).empty()) ||
        (op == "version" && arg(1) != "boot" && arg(1) != "program") ||
        (op != "download" && op != "erase" && op != "params" && op != "trace" && op != "version" &&
         op != "diagnose" && op != "testmode")) {
        Usage();
        return ExitUsage;
    }

    cli::CCliFrontEnd front(options.progress);
    CPacketDriver driver;
    CFdpEngine engine;
    front.SetProgramFolder(options.folder.empty() ? ProgramFolder() : options.folder);
    if (!front.StartLink()) {
        std::fprintf(stderr, "Cannot create trace.txt and Target_Bt_Addr.txt in %s\n", front.ProgramFolder().c_str());
        return ExitFiles;
    }
    if (!options.interface.empty()) driver.SetInterfaceFilter(options.interface);
    engine.Start(&driver, &front);
    front.SetLink(&engine, &driver);

    const int count = engine.EnumerateAdapters();
    int opened = -1;
    for (int i = 0; i < count && opened < 0; ++i)
        if (engine.OpenAdapter(static_cast<std::uint16_t>(i)) == OpenOk) opened = i;
    front.SetAdapter(opened, count, opened >= 0);
    if (opened < 0) {
        std::fprintf(stderr, "No Ethernet adapter could be opened%s%s\n", count ? ": " : " (none found).",
                     count ? driver.LastError().c_str() : "");
        return ExitNoAdapter;
    }
    std::printf("Adapter: %s\n", engine.GetAdapterDescription(opened).c_str());

    front.SetPassword(options.password);
    if (front.Listen() != 0) {
        std::printf("%s\n", front.resultText().c_str());
        return ExitConnect + int{ConnectAborted};
    }
    std::printf("%s\n", front.resultText().c_str());
    const auto& timeouts = engine.Timeouts();
    const auto connected = front.WaitResult(WM_FDP_CONNECT, std::chrono::milliseconds(timeouts.listen + timeouts.login) + 2s);
    const unsigned connect = connected ? connected->wParam : unsigned{ConnectTimeout};
    if (connect != ConnectOk) {
        std::printf("%s\n", ConnectText(connect));
        return ExitConnect + static_cast<int>(connect);
    }
    const MacAddress address = front.TargetAddress();
    char addressText[18];
    std::snprintf(addressText, sizeof addressText, "%02x:%02x:%02x:%02x:%02x:%02x", address[0], address[1], address[2],
                  address[3], address[4], address[5]);
    std::printf("%s %s\n", ConnectText(connect), addressText);

    if (op == "download") {
        front.BeginDownload();
        if (front.StartDownload(kind, arg(2)) != 0) {
            std::printf("%s\n", front.resultText().c_str());
            return OperationExit(FdpBusy);
        }
        // Transfer (2 s a block, three sends) is bounded by the file; erase and burn by their waits.
        const auto blocks = std::filesystem::exists(arg(2)) ? std::filesystem::file_size(arg(2)) / 1024 + 3 : 3;
        const auto bound = std::chrono::milliseconds(blocks * timeouts.status * timeouts.blockSends +
                                                     2 * timeouts.Flash(kind)) + 5s;
        if (!front.WaitDownloadEnd(bound)) return OperationExit(FdpTimeout);
        std::printf("%s\n", front.resultText().c_str());
        return OperationExit(front.DownloadResult());
    }
    if (op == "erase") {
        FdpRequest request;
        request.job = JobErase;
        request.kind = kind;
        if (engine.Submit(request) != 0) return OperationExit(FdpBusy);
        const auto result = front.WaitResult(WM_FDP_ERASE, std::chrono::milliseconds(timeouts.Flash(kind)) + 2s);
        const unsigned code = !result ? kTimeout : result->wParam == NotifySuccess ? kOk : kFailed;
        std::printf("%s%s\n", CFdpGui::StageText((kind - 1) * 10 + 3).c_str(), CFdpGui::ResultText(code).c_str());
        return OperationExit(code);
    }
    if (op == "params" || op == "trace") {
        auto buffer = MakeBuffer(kParamImageLen);
        const bool params = op == "params";
        const int submitted = params ? front.GetParams(buffer) : front.GetTrace(buffer);
        std::printf("%s\n", front.resultText().c_str());
        if (submitted != 0) return OperationExit(FdpBusy);
        const auto wait = std::chrono::milliseconds(params ? timeouts.params : timeouts.trace) + 2s;
        const auto result = front.WaitResult(params ? WM_FDP_PARAMS : WM_FDP_TRACE, wait);
        const unsigned code = !result ? kTimeout : result->wParam == NotifySuccess ? kOk : kFailed;
        std::printf("%s%s\n", CFdpGui::StageText(params ? 73 : 83).c_str(), CFdpGui::ResultText(code).c_str());
        if (code != 0) return OperationExit(code);
        const std::size_t size = params ? kParamImageLen : std::min<std::size_t>(front.TraceTotal(), buffer->size());
        if (!WriteBytes(arg(1), buffer->data(), size)) {
            std::fprintf(stderr, "Cannot write %s\n", arg(1).c_str());
            return OperationExit(FdpFileError);
        }
        return ExitOk;
    }
    if (op == "version") {
        auto block = MakeBuffer(kVersionBlockLen);
        (*block)[0] = arg(1) == "boot" ? 0x0D : 0x0E;
        const unsigned code = RunTransfer(front, engine, front.GetTargetVersion(block));
        if (code == 0) std::printf("%s version: %s\n", arg(1).c_str(), FirmwareVersion::FromLe(block->data()).Text().c_str());
        return OperationExit(code);
    }
    auto block = MakeBuffer(kTestBlockLen);
    if (op == "diagnose") {
        (*block)[0] = 0xFF;
        const int submitted = front.DiagnoseTarget(block);
        std::printf("%s\n", front.resultText().c_str());
        const unsigned code = RunTransfer(front, engine, submitted);
        if (code != 0) return OperationExit(code);
        const std::uint8_t units = (*block)[0];
        if (units == 0xFF) {
            std::printf("The connection with NAP is disconnected, Please restart Kelvane!\n");
            return OperationExit(FdpFailed);
        }
        static const char* const kUnits[] = {"UART", "MAC", "RAM", "FLASH", "TIMER", "BT_Module"};
        for (int bit = 0; bit < 6; ++bit)
            std::printf("%s %s\n", kUnits[bit], (units >> bit) & 1 ? "is ok!" : "failed!");
        return (units & 0x3F) == 0x3F ? ExitOk : OperationExit(FdpFailed);
    }
    // testmode: the HCI command Enable_Device_Under_Test_Mode, passed to the Bluetooth module.
    (*block)[0] = 0x01;
    (*block)[1] = 0x03;
    (*block)[2] = 0x18;
    const int submitted = front.EnableTargetTestMode(block);
    std::printf("%s\n", front.resultText().c_str());
    const unsigned code = RunTransfer(front, engine, submitted);
    if (code != 0) return OperationExit(code);
    const bool ok = (*block)[0] == 0;
    std::printf("%s\n", ok ? "Target has been under the Test Mode!" : "Enable target under test mode failed!");
    return ok ? ExitOk : OperationExit(FdpFailed);
}

}  // namespace

int main(int argc, char** argv) {
    res::SetLanguage(res::SystemLanguage());
    Options options;
    if (!Parse(argc, argv, options)) {
        Usage();
        return ExitUsage;
    }
    return Run(options);
}
