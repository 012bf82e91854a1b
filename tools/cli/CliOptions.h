// Everything kelvane-cli's command line asks for: the options and the operation's words.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fdp/Frame.h"

namespace cli {

struct CliOptions {
    std::string interface;
    std::string password = "4826";             // resolved from the options below
    std::optional<std::string> passwordArg;    // --password PW or -
    std::optional<std::string> passwordFile;   // --password-file FILE
    std::optional<std::string> newPasswordFile;
    std::string folder;
    bool progress = true;   // when standard output is a terminal, and not --quiet
    bool json = false;
    bool quiet = false;
    bool repeat = false;
    bool force = false;   // send a firmware file the checks refuse
    std::uint32_t flashWaitMs = 0;   // 0: the link's own waits
    // The operation's name and its arguments (a parameter task's new password is put in
    // when it comes from elsewhere).
    std::vector<std::string> operation;
    bool version = false;
    bool help = false;
    std::string dongle;   // the loop test's dongle; empty: the first hciN that opens
    std::optional<std::string> targetText;     // --target as given
    std::optional<fdp::MacAddress> target;     // --target
    unsigned paceMs = 0;                       // --pace-ms
    bool verify = false;
    int jsonFd = -1;                           // standard output as given, with --json
    // The operations' own options.
    std::uint32_t loopSize = 1000;             // looptest --size
    std::uint32_t loopSpeed = 10;              // looptest --speed
    bool dongleMaster = false;                 // looptest --master (--slave: false)
    std::uint64_t historyLast = 0;             // history --last; 0: every download
    unsigned seconds = 3;                      // --seconds: how long targets and a line listen first
    bool allTargets = false;                   // --all-targets: the production line
    bool watch = false;                        // --watch: the line goes on until Ctrl-C
    unsigned maxParallel = 0;                  // --max-parallel; 0: every target at once
    bool listWords = false;                    // --list-words
};

}  // namespace cli
