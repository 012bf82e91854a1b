// kelvane-nap-sim: plays the network access point on a real interface, for the tests,
// the benchmark and the demo. See kNapUsage for the options.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <iterator>
#include <string>
#include <vector>

#include "fdp/PacketSocketDriver.h"
#include "tools/nap-sim/FrameLog.h"
#include "tools/nap-sim/NapBluetooth.h"
#include "tools/nap-sim/NapModel.h"
#include "tools/nap-sim/NapOptions.h"
#include "tools/nap-sim/NapServer.h"

namespace {

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), {});
    return !in.bad();
}

int Fail(const std::string& text, int code = 1) {
    std::fprintf(stderr, "kelvane-nap-sim: %s\n", text.c_str());
    return code;
}

std::string FormatMac(const fdp::MacAddress& a) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", a[0], a[1], a[2], a[3], a[4], a[5]);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace napsim;
    NapOptions options;
    std::string error;
    if (!ParseNapOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "kelvane-nap-sim: %s\n%s", error.c_str(), kNapUsage);
        return 1;   // a usage error, as for kelvane and kelvane-cli
    }
    if (options.help) {
        std::fputs(kNapUsage, stdout);
        return 0;
    }
    if (!options.paramsPath.empty()) {
        if (!ReadWholeFile(options.paramsPath, options.config.params) || options.config.params.size() != 8192)
            return Fail("--params " + options.paramsPath + ": not a readable 8192-byte parameter block", 2);
    }
    if (!options.traceFile.empty()) {
        std::vector<std::uint8_t> text;
        if (!ReadWholeFile(options.traceFile, text)) return Fail("--trace-file " + options.traceFile + ": cannot read", 2);
        options.config.traceText = std::string(text.begin(), text.end());
    }

    // Signals are taken from a descriptor by the serving loop; they are blocked before
    // any thread starts so that none of them is interrupted by one.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    const int signalFd = ::signalfd(-1, &signals, SFD_CLOEXEC);
    if (signalFd < 0) return Fail("cannot watch for signals");

    CFrameLog log;
    if (!options.logPath.empty() && !log.Open(options.logPath))
        return Fail("--log " + options.logPath + ": cannot create", 2);

    fdp::CPacketSocketDriver driver;
    driver.UseOwnSocket();   // a target has no broker between it and its wire
    driver.Init(nullptr);
    driver.SetInterfaceFilter(options.interfaceName);
    if (driver.EnumerateAdapters() < 1) return Fail(driver.LastError());
    if (const int opened = driver.OpenAdapter(0); opened != fdp::OpenOk)
        return Fail("cannot open " + options.interfaceName + " (" + std::to_string(opened) + "): " + driver.LastError());
    driver.GetLocalAddress(options.config.address.data());

    {
        CNapModel model(options.config);
        CNapServer server(driver, model, options.logPath.empty() ? nullptr : &log,
                          {options.announceMs, options.reannounceMs});
        std::unique_ptr<CNapBluetooth> bluetooth;
        if (!options.btDevice.empty()) {
            bluetooth = std::make_unique<CNapBluetooth>(
                [&server](std::vector<std::uint8_t> report) {
                    server.WithModel([&report](CNapModel& m) { m.AnswerLoopReport(report); });
                },
                [&log](const std::string& event, const std::string& detail) { log.Event(event, detail); });
            if (!bluetooth->Open(options.btDevice)) return Fail("--bt " + bluetooth->Error(), 2);
            bluetooth->SetRadio(options.btRadioOn);
            bluetooth->SetWithhold(options.btWithhold);
            server.WithModel([&bluetooth](CNapModel& m) { m.SetBluetooth(bluetooth.get()); });
            log.Event("bt ready", bluetooth->AddressText());
            std::fprintf(stderr, "kelvane-nap-sim: Bluetooth module %s on %s%s\n", bluetooth->AddressText().c_str(),
                         options.btDevice.c_str(), options.btRadioOn ? "" : " (radio off)");
        }
        log.Event("ready", options.interfaceName + " " + FormatMac(options.config.address));
        std::fprintf(stderr, "kelvane-nap-sim: serving on %s (%s), password \"%s\"\n",
                     options.interfaceName.c_str(), FormatMac(options.config.address).c_str(),
                     options.config.password.c_str());
        server.Run(signalFd);
        server.WithModel([](CNapModel& m) { m.SetBluetooth(nullptr); });
    }
    driver.Uninit();
    log.Event("stopped");
    ::close(signalFd);
    return 0;
}
