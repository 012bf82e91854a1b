#include "tools/nap-sim/NapOptions.h"

#include <functional>
#include <limits>
#include <map>

#include "fdp/WholeNumber.h"

namespace napsim {

const char* const kNapUsage =
    "usage: kelvane-nap-sim --interface IF [options]\n"
    "Plays the network access point on interface IF (raw frames, EtherType 0x0707).\n"
    "  --interface IF          interface to serve on (required)\n"
    "  --password TEXT         login password (default kiwi)\n"
    "  --announce-ms N         announce period while nobody is logged in (default 1000)\n"
    "  --reannounce-ms N       announce again after N ms without frames from the PC\n"
    "                          once logged in (default 3000, 0 = never)\n"
    "  --challenge N           first challenge (default random)\n"
    "  --state DIR             keep burnt images in DIR (boot.bin, program.bin, param.bin)\n"
    "  --log FILE              log every frame in and out as JSON lines\n"
    "  --params FILE           the 8192-byte parameter block at start\n"
    "  --trace-file FILE       the trace text (default a built-in text)\n"
    "  --bt DEVICE             the target's Bluetooth module for the loop test: a\n"
    "                          controller as unix:PATH (btvirt -s), hciN or a serial path\n"
    "  --bt-radio on|off       off: the module pages nobody (default on)\n"
    "  --bt-withhold N         the module keeps back the last N bytes of every loop run:\n"
    "                          sends N fewer, leaves N out of its receive report\n"
    "faults:\n"
    "  --login-status N        login status for a right password (default 0)\n"
    "  --drop-first-send N,... ignore the first send of these blocks (counted from 1)\n"
    "  --silence-after-block N answer nothing after block N until the next start\n"
    "  --start-status N        status of the start command\n"
    "  --block-status N:S      status S for block N (repeatable)\n"
    "  --erase-status N        status of erase\n"
    "  --burn-status N         status of burn\n"
    "  --fault-downloads N     the status faults hit only the first N downloads\n"
    "  --status-code 2|4       reply code of download statuses (default 2)\n"
    "  --erase-delay-ms N      delay before the erase reply\n"
    "  --burn-delay-ms N       delay before the burn reply\n"
    "  --boot-version V        boot version reported (a.b.c.d or 0xHHHHHHHH)\n"
    "  --program-version V     program version reported (255.255.255.255: no program)\n"
    "  --version-after-burn new|old  old: the versions reported stay those held at\n"
    "                          start, as after a burn that did not take (default new)\n"
    "  --diagnose N            self-test result byte (default 0x3f)\n"
    "  --test-mode-status N    status of the test-mode request (default 0)\n"
    "  --transfer-status N     end status of a transfer answer (default 0)\n"
    "SIGINT or SIGTERM ends it.\n";

namespace {

// A byte or word of the target's answers, in decimal or as 0x...: the fault options
// name status bytes as the frame logs show them.
template <typename T>
bool ParseInto(const std::string& text, T& out) {
    const fdp::WholeNumber value = fdp::ReadWholeNumber(text, 0, std::numeric_limits<T>::max(), fdp::NumberBase::DecimalOrHex);
    if (value) out = static_cast<T>(value.value);
    return static_cast<bool>(value);
}

// Every part, empty ones too: "2," and "" hold an empty number, which is refused.
std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1)
        parts.push_back(text.substr(start, end - start));
    parts.push_back(text.substr(start));
    return parts;
}

}  // namespace

bool ParseVersion(const std::string& text, std::uint32_t& version) {
    const auto parts = Split(text, '.');
    if (parts.size() == 4) {
        std::uint32_t value = 0;
        for (const auto& part : parts) {
            std::uint8_t byte = 0;
            if (!ParseInto(part, byte)) return false;
            value = (value << 8) | byte;
        }
        version = value;
        return true;
    }
    return parts.size() == 1 && ParseInto(text, version);
}

bool ParseNapOptions(const std::vector<std::string>& args, NapOptions& options, std::string& error) {
    NapConfig& c = options.config;
    using Setter = std::function<bool(const std::string&)>;
    const std::map<std::string, Setter> valued = {
        {"--interface", [&](const std::string& v) { options.interfaceName = v; return !v.empty(); }},
        {"--password", [&](const std::string& v) { c.password = v; return true; }},
        {"--announce-ms", [&](const std::string& v) { return ParseInto(v, options.announceMs) && options.announceMs > 0; }},
        {"--reannounce-ms", [&](const std::string& v) { return ParseInto(v, options.reannounceMs); }},
        {"--challenge", [&](const std::string& v) { std::uint32_t n = 0; if (!ParseInto(v, n)) return false; c.challenge = n; return true; }},
        {"--state", [&](const std::string& v) { c.stateDir = v; return !v.empty(); }},
        {"--log", [&](const std::string& v) { options.logPath = v; return !v.empty(); }},
        {"--params", [&](const std::string& v) { options.paramsPath = v; return !v.empty(); }},
        {"--trace-file", [&](const std::string& v) { options.traceFile = v; return !v.empty(); }},
        {"--bt", [&](const std::string& v) { options.btDevice = v; return !v.empty(); }},
        {"--bt-radio", [&](const std::string& v) { options.btRadioOn = v == "on"; return v == "on" || v == "off"; }},
        {"--bt-withhold", [&](const std::string& v) { return ParseInto(v, options.btWithhold); }},
        {"--login-status", [&](const std::string& v) { return ParseInto(v, c.loginStatus); }},
        {"--drop-first-send", [&](const std::string& v) {
             for (const auto& part : Split(v, ',')) {
                 std::uint32_t n = 0;
                 if (!ParseInto(part, n) || n == 0) return false;
                 c.dropFirstSend.insert(n);
             }
             return true;
         }},
        {"--silence-after-block", [&](const std::string& v) { std::uint32_t n = 0; if (!ParseInto(v, n)) return false; c.silenceAfterBlock = n; return true; }},
        {"--start-status", [&](const std::string& v) { return ParseInto(v, c.startStatus); }},
        {"--block-status", [&](const std::string& v) {
             const auto parts = Split(v, ':');
             std::uint32_t block = 0;
             std::uint8_t status = 0;
             if (parts.size() != 2 || !ParseInto(parts[0], block) || block == 0 || !ParseInto(parts[1], status))
                 return false;
             c.blockStatus[block] = status;
             return true;
         }},
        {"--fault-downloads", [&](const std::string& v) { std::uint32_t n = 0; if (!ParseInto(v, n)) return false; c.faultDownloads = n; return true; }},
        {"--erase-status", [&](const std::string& v) { return ParseInto(v, c.eraseStatus); }},
        {"--burn-status", [&](const std::string& v) { return ParseInto(v, c.burnStatus); }},
        {"--status-code", [&](const std::string& v) {
             return ParseInto(v, c.statusCode) && (c.statusCode == 0x02 || c.statusCode == 0x04);
         }},
        {"--erase-delay-ms", [&](const std::string& v) { return ParseInto(v, c.eraseDelayMs); }},
        {"--burn-delay-ms", [&](const std::string& v) { return ParseInto(v, c.burnDelayMs); }},
        {"--boot-version", [&](const std::string& v) { std::uint32_t n = 0; if (!ParseVersion(v, n)) return false; c.bootVersion = n; return true; }},
        {"--program-version", [&](const std::string& v) { std::uint32_t n = 0; if (!ParseVersion(v, n)) return false; c.programVersion = n; return true; }},
        {"--version-after-burn", [&](const std::string& v) { c.keepVersion = v == "old"; return v == "old" || v == "new"; }},
        {"--diagnose", [&](const std::string& v) { return ParseInto(v, c.diagnose); }},
        {"--test-mode-status", [&](const std::string& v) { return ParseInto(v, c.testModeStatus); }},
        {"--transfer-status", [&](const std::string& v) { return ParseInto(v, c.transferStatus); }},
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        if (name == "--help" || name == "-h") {
            options.help = true;
            return true;
        }
        std::string value;
        bool inlineValue = false;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            inlineValue = true;
        }
        const auto option = valued.find(name);
        if (option == valued.end()) {
            error = "unknown option " + name;
            return false;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) {
                error = name + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (!option->second(value)) {
            error = "bad value for " + name + ": " + value;
            return false;
        }
    }
    if (options.interfaceName.empty()) {
        error = "--interface is required";
        return false;
    }
    return true;
}

}  // namespace napsim
