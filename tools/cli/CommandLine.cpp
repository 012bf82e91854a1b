#include "tools/cli/CommandLine.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <string>

#include "fdp/WholeNumber.h"
#include "tools/cli/ExitCodes.h"
#include "tools/cli/HelpText.h"
#include "tools/cli/OperationTable.h"

namespace cli {

namespace {

// A whole number in decimal within the row's range, read by the programs' one number
// reader: CLI11's own reading takes 010 for eight and 0x10 for sixteen, and a number
// too large for 64 bits must be a usage error, not an exception. The value handed on to
// the row's setter is the number in plain decimal.
class NumberIn : public CLI::Validator {
public:
    explicit NumberIn(NumberRange range) : CLI::Validator("NUMBER") {
        func_ = [range](std::string& input) {
            const fdp::WholeNumber number = fdp::ReadWholeNumber(input, range.min, range.max);
            if (number.error == std::errc::invalid_argument) return "Value " + input + " is not a whole number";
            if (!number)
                return "Value " + input + " not in range " + std::to_string(range.min) + " to " + std::to_string(range.max);
            input = std::to_string(number.value);
            return std::string();
        };
    }
};

// An option of the table on the app (or an operation's subcommand): a flag, a text, or a
// number in its range.
CLI::Option* AddOption(CLI::App& app, const OptionRow& row, CliOptions& options) {
    const std::string names(row.names);
    CLI::Option* option = nullptr;
    if (row.value.empty()) {
        option = app.add_flag_callback(names, [&options, set = row.set] { set(options, {}); });
    } else {
        option = app.add_option_function<std::string>(
            names, [&options, set = row.set](const std::string& value) { set(options, value); });
        option->type_name(std::string(row.value));
        if (row.number) option->transform(NumberIn(*row.number));
    }
    option->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    if (row.hidden) option->group("");
    return option;
}

}  // namespace

bool ParseCommandLine(int argc, char** argv, CliOptions& options) {
    // The table's options anywhere on the line, before or after the operation; the
    // operation's own options after its name. Help is ours (HelpText), as are the usage
    // errors: CLI11 only reads the line.
    CLI::App app("", "kelvane-cli");
    app.set_help_flag();
    app.require_subcommand(0, 1);
    std::vector<std::pair<const OptionRow*, CLI::Option*>> flags;
    for (const OptionRow& row : CommonOptions()) {
        CLI::Option* option = AddOption(app, row, options);
        if (row.value.empty()) flags.emplace_back(&row, option);
    }
    std::vector<std::pair<CLI::App*, std::vector<CLI::Option*>>> operations;
    for (const Operation& operation : Operations()) {
        CLI::App* sub = app.add_subcommand(std::string(operation.name));
        sub->fallthrough();
        std::vector<CLI::Option*> arguments;
        for (const ArgumentRow& argument : operation.arguments) {
            CLI::Option* positional = sub->add_option(std::string(argument.name));
            positional->required(!argument.optional);
            if (!argument.choices.empty()) {
                positional->check(CLI::IsMember(CLI::detail::split(std::string(argument.choices), '|')));
            }
            arguments.push_back(positional);
        }
        for (const OptionRow& row : operation.options) AddOption(*sub, row, options);
        operations.emplace_back(sub, std::move(arguments));
    }

    std::string error;
    try {
        app.parse(argc, argv);
    } catch (const CLI::ExtrasError&) {
        // The words nobody took, in the order given (CLI11 lists them backwards).
        const std::vector<std::string> extras = app.remaining(true);
        std::string words;
        for (int i = 1; i < argc; ++i)
            if (std::find(extras.begin(), extras.end(), argv[i]) != extras.end()) words += std::string(" ") + argv[i];
        const bool operation = std::any_of(operations.begin(), operations.end(), [](const auto& o) { return o.first->count() > 0; });
        if (!operation && words.size() > 1 && words[1] != '-') {
            const std::string name = words.substr(1, words.find(' ', 1) - 1);
            error = "unknown operation " + name;
            options.operation = {name};
        } else {
            error = "unexpected argument" + words;
        }
    } catch (const CLI::ParseError& e) {
        error = e.what();
    }
    // The operation's words as given, also when they were refused (the report names it).
    for (const auto& [sub, arguments] : operations) {
        if (sub->count() == 0) continue;
        options.operation = {sub->get_name()};
        for (CLI::Option* argument : arguments)
            if (!argument->results().empty()) options.operation.push_back(argument->results().back());
    }
    if (!error.empty()) {
        // The flags seen before the line went wrong still count: help asked for is the
        // answer, and a refused line with --json still writes its object.
        for (const auto& [row, option] : flags)
            if (option->count() > 0) row->set(options, {});
        if (!options.help) std::fprintf(stderr, "kelvane-cli: %s\n", error.c_str());
        return false;
    }
    return !options.operation.empty() || options.version || options.help || options.listWords;
}

int UsageError() {
    std::fputs(ShortUsage().c_str(), stderr);
    return ExitUsage;
}

}  // namespace cli
