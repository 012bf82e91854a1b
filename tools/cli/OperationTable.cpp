#include "tools/cli/OperationTable.h"

#include <algorithm>

#include "fdp/WholeNumber.h"
#include "hci/LoopRunner.h"
#include "tools/cli/CommandLine.h"
#include "tools/cli/DownloadCommand.h"
#include "tools/cli/HistoryCommand.h"
#include "tools/cli/LoopTestCommand.h"
#include "tools/cli/ParamTaskCommand.h"
#include "tools/cli/RequestCommand.h"

namespace cli {

namespace {

using Name = Operation::Name;

// A number option's value, which the command line has already read as a whole number
// in the row's range (CommandLine's NumberIn), which fits T, and handed on in plain
// decimal.
template <typename T = std::uint32_t>
T Number(const std::string& value) { return static_cast<T>(fdp::ReadWholeNumber(value, 0, UINT64_MAX).value); }

const std::vector<Operation> kOperations = {
    {"download", RunDownload, LinkUse::Target, Name::WithArea, {{"AREA", "boot|program|param"}, {"FILE"}}, {},
         "  download boot|program|param FILE   transfer, erase and burn a flash area; a boot or\n"
         "                                      program file must pass the wizard's checks (size,\n"
         "                                      signature, a version above the target's)\n"},
    {"check", RunCheck, LinkUse::None, Name::Plain, {{"FILE"}}, {},
         "  check FILE                          the firmware file's kind by size, signature, version\n"
         "                                      (no target needed)\n"},
    {"erase", RunErase, LinkUse::Target, Name::WithArea, {{"AREA", "boot|program|param"}}, {},
         "  erase boot|program|param            erase a flash area\n"},
    {"params", RunSaveBlock, LinkUse::Target, Name::Plain, {{"OUT"}}, {},
         "  params OUT                          save the target's 8192-byte parameter block\n"},
    {"trace", RunSaveBlock, LinkUse::Target, Name::Plain, {{"OUT"}}, {},
         "  trace OUT                           save the target's trace text\n"},
    {"version", RunVersion, LinkUse::Target, Name::WithArea, {{"AREA", "boot|program"}}, {},
         "  version boot|program                print the target's firmware version\n"},
    {"diagnose", RunDiagnose, LinkUse::Target, Name::Plain, {}, {},
         "  diagnose                            run the target's hardware self test\n"},
    {"testmode", RunTestMode, LinkUse::Target, Name::Plain, {}, {},
         "  testmode                            put the target's Bluetooth module into test mode\n"},
    {"looptest", RunLoopTest, LinkUse::Loop, Name::Plain, {{"TEST", "target|dongle|target-testmode|dongle-testmode"}},
     {{"--size", "N", [](CliOptions& o, const std::string& v) { o.loopSize = Number(v); }, NumberRange{hci::kLoopSizeMin, hci::kLoopSizeMax}},
      {"--speed", "S", [](CliOptions& o, const std::string& v) { o.loopSpeed = Number(v); }, NumberRange{hci::kLoopSpeedMin, hci::kLoopSpeedMax}},
      {"--master", "", [](CliOptions& o, const std::string&) { o.dongleMaster = true; }, std::nullopt},
      {"--slave", "", [](CliOptions& o, const std::string&) { o.dongleMaster = false; }, std::nullopt}},
         "  looptest target|dongle|target-testmode|dongle-testmode [--size N] [--speed S]\n"
         "           [--master|--slave]          the Bluetooth loop test with the dongle of --dongle\n"
         "                                      DEVICE (hciN, PATH[:BAUD][:noflow], unix:PATH); size\n"
         "                                      1-1000 bytes (1000), speed 10-80 KBytes/s (10), slave\n"},
    {"history", RunHistory, LinkUse::None, Name::None, {},
     {{"--last", "N", [](CliOptions& o, const std::string& v) { o.historyLast = Number<std::uint64_t>(v); },
        NumberRange{1, UINT64_MAX}}},
         "  history [--last N]                  the update history (history.jsonl and the older\n"
         "                                      history.jsonl.1) as a table, the last N downloads\n"
         "                                      only with --last (no link is opened)\n"},
    {"targets", RunTargetsRequest, LinkUse::Target, Name::Plain, {}, {},
         "  targets [--seconds N]               the targets that announce, one line each (address,\n"
         "                                      adapter, announces, last seen), listening N s (3)\n"
         "                                      without logging in\n"},
    {"set-name-password", RunParamTask, LinkUse::Target, Name::Plain, {{"NAME"}, {"PASSWORD", "", true}}, {},
         "  set-name-password NAME [PASSWORD|-] the target's friendly name and login password; the\n"
         "                                      password also from --new-password-file FILE or\n"
         "                                      KELVANE_NEW_PASSWORD, \"-\" reads it from standard input\n"},
    {"set-network", RunParamTask, LinkUse::Target, Name::Plain, {{"SETTINGS"}}, {},
         "  set-network hub|auto|IP/MASK,GATEWAY,DNS   hub mode, or router mode with an automatic\n"
         "                                      or a fixed WAN address (MASK: a.b.c.d or a prefix length)\n"},
    {"set-register", RunParamTask, LinkUse::Target, Name::Plain,
     {{"ACCESS"}, {"DEREG"}, {"ADDR"}, {"RINGLET"}, {"PSTN"}}, {},
         "  set-register ACCESS DEREG ADDR RINGLET PSTN   the telephone service's register parameters\n"},
};

const std::vector<OptionRow> kCommonOptions = {
    {"--interface", "LIST", [](CliOptions& o, const std::string& v) { o.interface = v; }, std::nullopt,
         "  --interface LIST          use only these Ethernet interfaces: names or shell patterns,\n"
         "                            separated by commas ('kv*,enx*'); without it only wired and\n"
         "                            USB adapters carry a login, a wireless or virtual one only\n"
         "                            when named\n"},
    {"--password-file", "FILE", [](CliOptions& o, const std::string& v) { o.passwordFile = v; }, std::nullopt,
         "  --password-file FILE      the login password from the first line of FILE (readable by\n"
         "                            you only); or KELVANE_PASSWORD; without either it is 4826\n"},
    {"--password", "PW", [](CliOptions& o, const std::string& v) { o.passwordArg = v; }, std::nullopt,
         "  --password -              the login password from a line of standard input (after it,\n"
         "                            \"-\" for the new password reads the next line)\n"
         "  --password PW             the login password itself: every user sees it in the process list\n"},
    {"--new-password-file", "FILE", [](CliOptions& o, const std::string& v) { o.newPasswordFile = v; }, std::nullopt,
         "  --new-password-file FILE  set-name-password's new password from the first line of FILE\n"},
    {"--folder", "DIR", [](CliOptions& o, const std::string& v) { o.folder = v; }, std::nullopt,
         "  --folder DIR              keep the working files (param.jdp, history.jsonl, trace.txt,\n"
         "                            Target_Bt_Addr.txt) in DIR, a folder of yours that no other\n"
         "                            user may write to (else exit 3)\n"},
    {"--dongle", "DEVICE", [](CliOptions& o, const std::string& v) { o.dongle = v; }, std::nullopt,
         "  --dongle DEVICE           the loop test's Bluetooth dongle: hciN, a serial line as\n"
         "                            PATH[:BAUD][:noflow] (/dev/tty...), or unix:PATH\n"},
    {"--flash-wait-ms", "N", [](CliOptions& o, const std::string& v) { o.flashWaitMs = Number(v); },
     NumberRange{1, 3600000},
         "  --flash-wait-ms N         replaces the wait for an erase or burn reply (30 s, 80 s program)\n"},
    {"--force", "", [](CliOptions& o, const std::string&) { o.force = true; }, std::nullopt,
         "  --force                   send a boot or program file the checks refuse (it may not be\n"
         "                            firmware)\n"},
    {"--target", "ADDRESS", [](CliOptions& o, const std::string& v) { o.targetText = v; }, std::nullopt,
         "  --target ADDRESS          log in only to the target of this address (aa:bb:cc:dd:ee:ff or\n"
         "                            aa-bb-cc-dd-ee-ff); without it the one that announces in\n"
         "                            the first second (several: none, exit 9), and another\n"
         "                            target heard later is named (\"Also heard\")\n"},
    {"--verify", "", [](CliOptions& o, const std::string&) { o.verify = true; }, std::nullopt,
         "  --verify                  after a boot or program burn, exit 7 unless the target reports\n"
         "                            the file's version (it is read back and printed after every burn)\n"},
    {"--pace-ms", "N", [](CliOptions& o, const std::string& v) { o.paceMs = Number(v); }, NumberRange{0, 100},
         "  --pace-ms N               pause N ms (0-100, default 0) after each 1024-byte block; 10 ms,\n"
         "                            the wizard's default, is the pace targets are known to take, a\n"
         "                            faster one is for targets known to keep up\n"},
    {"--json", "", [](CliOptions& o, const std::string&) { o.json = true; }, std::nullopt,
         "  --json                    one JSON object on standard output (operation, adapter, target,\n"
         "                            versions, file and sha256, stage, result, code, exitCode, ok,\n"
         "                            durationMs); the texts go to standard error\n"},
    {"--quiet", "", [](CliOptions& o, const std::string&) { o.quiet = true; }, std::nullopt,
         "  --quiet                   no status texts\n"},
    {"--no-progress", "", [](CliOptions& o, const std::string&) { o.progress = false; }, std::nullopt,
         "  --no-progress             no progress bar (one is drawn only when stdout is a terminal)\n"},
    {"--repeat", "", [](CliOptions& o, const std::string&) { o.repeat = true; }, std::nullopt,
         "  --repeat                  after each target wait for the next new one (another address)\n"
         "                            and run the same operation, a summary line per target, until\n"
         "                            Ctrl-C\n"},
    {"--all-targets", "", [](CliOptions& o, const std::string&) { o.allTargets = true; }, std::nullopt,
         "  --all-targets             the production line: log in to every target that announces\n"
         "                            (listening --seconds first; later ones join) and run the\n"
         "                            operation on all at once (download, set-..., version, params,\n"
         "                            trace, diagnose); %a in its words is each target's address\n"
         "                            without separators, %s its last six digits; a target that\n"
         "                            has the file's version is skipped; exit 0 all succeeded, 10\n"
         "                            one failed at least, 8 none heard\n"},
    {"--watch", "", [](CliOptions& o, const std::string&) { o.watch = true; }, std::nullopt,
         "  --watch                   with --all-targets, go on serving each new target until\n"
         "                            Ctrl-C; one back after its burn is served again only when it\n"
         "                            does not report the file's version\n"},
    {"--max-parallel", "N", [](CliOptions& o, const std::string& v) { o.maxParallel = Number(v); }, NumberRange{1, 256},
         "  --max-parallel N          with --all-targets, serve at most N targets at once (all)\n"},
    {"--seconds", "N", [](CliOptions& o, const std::string& v) { o.seconds = Number(v); }, NumberRange{1, 3600},
         "  --seconds N               how long targets and --all-targets listen first (3)\n"},
    {"--version", "", [](CliOptions& o, const std::string&) { o.version = true; }, std::nullopt,
         "  --version                 the version and the folder of the working files\n"},
    {"-h,--help", "", [](CliOptions& o, const std::string&) { o.help = true; }, std::nullopt,
         "  -h, --help                this text\n"},
    // The table's words for the build (the bash completion) and the tests.
    {"--list-words", "", [](CliOptions& o, const std::string&) { o.listWords = true; }, std::nullopt, "", true},
};

}  // namespace

std::span<const Operation> Operations() { return kOperations; }
std::span<const OptionRow> CommonOptions() { return kCommonOptions; }

const Operation* FindOperation(std::string_view name) {
    const auto row = std::find_if(kOperations.begin(), kOperations.end(),
                                  [name](const Operation& operation) { return operation.name == name; });
    return row == kOperations.end() ? nullptr : &*row;
}

// Operations that talk to no target open no packet socket: they work for every user.
bool NeedsLink(const CliOptions& options) {
    if (options.version || options.operation.empty()) return false;
    const Operation* operation = FindOperation(options.operation[0]);
    if (!operation) return true;
    if (operation->link == LinkUse::Loop) return !(options.operation.size() > 1 && options.operation[1] == "dongle-testmode");
    return operation->link != LinkUse::None;
}

void NameOperation(CliRun& run) {
    const Operation* operation = FindOperation(run.Arg(0));
    const Name name = operation ? operation->report : Name::Plain;
    if (name != Name::None) run.report.SetOperation(name == Name::WithArea ? run.Arg(0) + " " + run.Arg(1) : run.Arg(0));
}

int RunOperation(CliRun& run) {
    NameOperation(run);
    const Operation* operation = FindOperation(run.Arg(0));
    return operation ? operation->run(run) : UsageError();
}

}  // namespace cli
