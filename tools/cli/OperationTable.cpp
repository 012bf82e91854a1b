#include "tools/cli/OperationTable.h"

#include <algorithm>

#include "tools/cli/CommandLine.h"
#include "tools/cli/DownloadCommand.h"
#include "tools/cli/HistoryCommand.h"
#include "tools/cli/LoopTestCommand.h"
#include "tools/cli/ParamTaskCommand.h"
#include "tools/cli/RequestCommand.h"

namespace cli {

namespace {

const Operation kOperations[] = {
    {"download", RunDownload, LinkUse::Target, Operation::Name::WithArea},
    {"check", RunCheck, LinkUse::None},
    {"erase", RunErase, LinkUse::Target, Operation::Name::WithArea},
    {"params", RunSaveBlock},
    {"trace", RunSaveBlock},
    {"version", RunVersion, LinkUse::Target, Operation::Name::WithArea},
    {"diagnose", RunDiagnose},
    {"testmode", RunTestMode},
    {"looptest", RunLoopTest, LinkUse::Loop},
    {"history", RunHistory, LinkUse::None, Operation::Name::None},
    {"targets", RunTargetsRequest},
    {"set-name-password", RunParamTask},
    {"set-network", RunParamTask},
    {"set-register", RunParamTask},
};

}  // namespace

std::span<const Operation> Operations() { return kOperations; }

const Operation* FindOperation(std::string_view name) {
    const auto row = std::find_if(std::begin(kOperations), std::end(kOperations),
                                  [name](const Operation& operation) { return operation.name == name; });
    return row == std::end(kOperations) ? nullptr : row;
}

// Operations that talk to no target open no packet socket: they work for every user.
bool NeedsLink(const CliOptions& options) {
    if (options.version || options.operation.empty()) return false;
    const Operation* operation = FindOperation(options.operation[0]);
    if (!operation) return true;
    if (operation->link == LinkUse::Loop) return !(options.operation.size() > 1 && options.operation[1] == "dongle-testmode");
    return operation->link != LinkUse::None;
}

int RunOperation(CliRun& run) {
    const Operation* operation = FindOperation(run.Arg(0));
    const Operation::Name name = operation ? operation->report : Operation::Name::Plain;
    // The operation and its area; a task's arguments may hold a password.
    if (name != Operation::Name::None)
        run.report.SetOperation(name == Operation::Name::WithArea ? run.Arg(0) + " " + run.Arg(1) : run.Arg(0));
    return operation ? operation->run(run) : UsageError();
}

}  // namespace cli
