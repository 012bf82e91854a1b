#include "tools/cli/HelpText.h"

#include <string>

#include "resources/strings/StringTable.h"
#include "tools/cli/OperationTable.h"

namespace cli {

namespace {

// The table's long options, an operation's own after the common ones.
std::string LongNames(std::string_view names) {
    const auto dashes = names.find("--");
    return std::string(names.substr(dashes == std::string_view::npos ? 0 : dashes));
}

}  // namespace

std::string HelpText() {
    // Each piece is a message of its own in the translation catalogue.
    std::string help = res::Text(
        "usage: kelvane-cli [OPTION...] OPERATION [ARGUMENT...]\n"
        "       kelvane-cli --version | --help\n"
        "Opens the Ethernet adapter, waits for the target (a Bluetooth network access point) to\n"
        "announce itself, logs in and runs one operation, printing the wizard's texts.\n"
        "\n"
        "operations:\n");
    for (const Operation& operation : Operations()) help += res::Text(operation.help);
    help += res::Text(
        "    (the set- tasks build the block from the working param.jdp in a new file beside it,\n"
        "     download that, and move it over param.jdp once the target has burnt it)\n"
        "\n"
        "options:\n");
    for (const OptionRow& option : CommonOptions()) help += res::Text(option.help);
    help += res::Text(
        "Ctrl-C stops at once, says what state the target was left in and exits 130 (with\n"
        "--repeat while waiting for a target: 0 when every target succeeded).\n"
        "\n"
        "exit: 0 ok, 1 usage, 2 no adapter, 3 files, 4 no dongle, 5 loop test stopped,\n"
        "      6 firmware file refused by its checks, 7 --verify: another version after the burn,\n"
        "      8 targets: none heard, 9 several targets: choose one with --target,\n"
        "      20+connect result, 40+operation result, 128+signal interrupted\n");
    return help;
}

std::string ShortUsage() {
    return res::Text("usage: kelvane-cli [OPTION...] OPERATION [ARGUMENT...]\n"
                     "Try 'kelvane-cli --help' for the operations and options.\n");
}

std::string ListWords() {
    std::string operations, options, valued, operationOptions, choices;
    const auto add = [](std::string& list, std::string_view word) {
        if (!list.empty()) list += ' ';
        list += word;
    };
    for (const OptionRow& option : CommonOptions()) {
        if (option.hidden) continue;
        add(options, LongNames(option.names));
        if (!option.value.empty()) add(valued, LongNames(option.names));
    }
    for (const Operation& operation : Operations()) {
        add(operations, operation.name);
        std::string own;
        for (const OptionRow& option : operation.options) {
            add(own, LongNames(option.names));
            if (!option.value.empty()) add(valued, LongNames(option.names));
        }
        if (!own.empty()) add(operationOptions, "[" + std::string(operation.name) + "]='" + own + "'");
        for (std::size_t i = 0; i < operation.arguments.size(); ++i) {
            std::string words(operation.arguments[i].choices);
            if (words.empty()) continue;
            for (char& c : words)
                if (c == '|') c = ' ';
            add(choices, "[" + std::string(operation.name) + ":" + std::to_string(i) + "]='" + words + "'");
        }
    }
    return "operations='" + operations + "'\noptions='" + options + "'\nvalued='" + valued + "'\noperation_options=(" +
           operationOptions + ")\nchoices=(" + choices + ")\n";
}

}  // namespace cli
