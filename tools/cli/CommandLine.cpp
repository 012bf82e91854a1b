#include "tools/cli/CommandLine.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/cli/ExitCodes.h"
#include "tools/cli/HelpText.h"

namespace cli {

namespace {
constexpr unsigned kMaxPaceMs = 100;
}

bool ParseCommandLine(int argc, char** argv, CliOptions& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) return false;
            into = argv[++i];
            return true;
        };
        if (arg == "--interface") { if (!value(options.interface)) return false; }
        else if (arg == "--password") { if (!value(options.passwordArg.emplace())) return false; }
        else if (arg == "--password-file") { if (!value(options.passwordFile.emplace())) return false; }
        else if (arg == "--new-password-file") { if (!value(options.newPasswordFile.emplace())) return false; }
        else if (arg == "--folder") { if (!value(options.folder)) return false; }
        else if (arg == "--no-progress") options.progress = false;
        else if (arg == "--dongle") { if (!value(options.dongle)) return false; }
        else if (arg == "--json") options.json = true;
        else if (arg == "--quiet") options.quiet = true;
        else if (arg == "--repeat") options.repeat = true;
        else if (arg == "--force") options.force = true;
        else if (arg == "--verify") options.verify = true;
        else if (arg == "--target") { if (!value(options.targetText.emplace())) return false; }
        else if (arg == "--pace-ms") {
            std::string text;
            if (!value(text)) return false;
            char* end = nullptr;
            errno = 0;
            const unsigned long ms = std::strtoul(text.c_str(), &end, 10);
            if (text.empty() || text[0] == '-' || *end != '\0' || errno != 0 || ms > kMaxPaceMs) return false;
            options.paceMs = static_cast<unsigned>(ms);
        }
        else if (arg == "--flash-wait-ms") {
            std::string text;
            if (!value(text)) return false;
            char* end = nullptr;
            errno = 0;
            const unsigned long ms = std::strtoul(text.c_str(), &end, 10);
            if (text.empty() || text[0] == '-' || *end != '\0' || errno != 0 || ms == 0 || ms > 3600000) return false;
            options.flashWaitMs = static_cast<std::uint32_t>(ms);
        }
        else if (arg == "-h" || arg == "--help") options.help = true;
        else if (arg == "--version") options.version = true;
        else options.operation.push_back(arg);
    }
    return !options.operation.empty() || options.version || options.help;
}

int UsageError() {
    std::fputs(ShortUsage(), stderr);
    return ExitUsage;
}

}  // namespace cli
