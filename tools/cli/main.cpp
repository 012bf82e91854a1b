// kelvane-cli: the device link from the command line, for scripts and production lines.
// Opens the adapter, logs in and runs one operation, printing the wizard's texts.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "fdp/CapabilityDrop.h"
#include "fdp/FdpEngine.h"
#include "fdp/FirmwareFile.h"
#include "fdp/FirmwareVersion.h"
#include "fdp/LinkChannel.h"
#include "fdp/PacketSocketDriver.h"
#include "fdp/PrivateFile.h"
#include "fdp/ProgramFolders.h"
#include "fdp/Sha256.h"
#include "fdp/TargetAddress.h"
#include "fdp/UpdateHistory.h"
#include "fdp/FormatBdAddr.h"
#include "resources/strings/StringIds.h"
#include "resources/strings/StringTable.h"
#include "tools/cli/CliFrontEnd.h"
#include "hci/HciTransport.h"
#include "hci/LoopRunner.h"
#include "tools/cli/FirmwareCheck.h"
#include "tools/cli/HelpText.h"
#include "tools/cli/LoopTestCommand.h"
#include "tools/cli/ParamDraft.h"
#include "tools/cli/ParamTaskArgs.h"
#include "tools/cli/Interrupt.h"
#include "tools/cli/RunReport.h"
#include "tools/cli/SecretInput.h"
#include "tools/cli/TargetsCommand.h"

using namespace fdp;
using namespace std::chrono_literals;

namespace {

// Exit codes: 0 success; 1 usage, or a parameter task's value the target would not
// take; 2 no adapter opened; 3 the link files could not be created, a FILE or OUT named
// by the user cannot be used, or param.jdp cannot be read, copied or replaced; 20 + ConnectResult when the login failed; 40 + result when the operation
// failed (41 failed, 43 time-out, 50 file error, 40 + a target status byte ...).
constexpr int ExitOk = 0, ExitUsage = 1, ExitNoAdapter = 2, ExitFiles = 3, ExitConnect = 20, ExitOperation = 40;
// --verify: the version the target reports after the burn is not the file's.
constexpr int ExitVersionMismatch = 7;
constexpr unsigned kMaxPaceMs = 100;
// A target that nobody has logged in to announces itself about once a second.
constexpr auto kAnnouncePeriod = std::chrono::milliseconds(1000);

int OperationExit(unsigned result) { return result == 0 ? ExitOk : static_cast<int>(std::min(255u, ExitOperation + result)); }

// A usage error: the short usage on standard error (the caller exits with ExitUsage).
void Usage() { std::fputs(cli::ShortUsage(), stderr); }

bool KindFromName(const std::string& name, std::uint8_t& kind) {
    if (name == "boot") kind = KindBoot;
    else if (name == "program") kind = KindProgram;
    else if (name == "param") kind = KindParam;
    else return false;
    return true;
}

// What this run did, for --json.
cli::CRunReport g_report;
bool g_reportWanted = true;

// A link step's end as the report's outcome: its stage word and the wizard's words.
void RecordOutcome(unsigned stage, unsigned code) {
    g_report.SetOutcome(cli::CRunReport::StageWord(stage),
                        CFdpGui::StageText(stage / 10 * 10 + 3) + CFdpGui::ResultText(code), code);
}

// Ctrl-C or SIGTERM during a run: the link stops when Run returns (the engine's stop
// ends its waits and nothing more is sent). Says what the target was left doing, which
// matters most in the middle of a download.
enum class Stopped { Listening, Download, Erase, Request };

int StopInterrupted(cli::CCliFrontEnd& front, Stopped during, std::uint8_t kind) {
    const char* area = kind == KindBoot ? "boot" : kind == KindProgram ? "program" : "parameter";
    const unsigned stage = front.LastStage();
    const std::string step = during == Stopped::Erase ? "erase"
                             : stage == 0             ? "transfer"
                                                      : cli::CRunReport::StageWord(stage);
    char state[400];
    const bool download = during == Stopped::Download;
    if (during == Stopped::Listening)
        std::snprintf(state, sizeof state, "no target was connected, nothing was sent");
    else if (download && step == "transfer")
        std::snprintf(state, sizeof state, "stopped during the transfer: the target's %s area is unchanged", area);
    else if (step == "erase")
        std::snprintf(state, sizeof state,
                      "stopped while the target erases its %s area: it finishes the erase by itself and the area is then "
                      "empty; download the %s area again before the target restarts", area, area);
    else if (step == "burn")
        std::snprintf(state, sizeof state,
                      "stopped while the target burns its %s area: it finishes the burn by itself, but whether it "
                      "succeeded is unknown; check it or download the %s area again before the target restarts", area, area);
    else
        std::snprintf(state, sizeof state, "stopped before the target's answer; its flash is unchanged");
    std::fprintf(stderr, "Interrupted: %s.\n", state);
    g_report.SetOutcome(step, std::string("interrupted: ") + state, FdpCancelled);
    return 128 + cli::CInterrupt::Signal();
}

// The working files' folder: beside the program, or the user's own for an installed one;
// empty when there is none or it is refused (said on stderr): nothing is saved then.
// Operations that only read (--version, history) name it without creating it.
enum class FolderUse { ReadOnly, Work };

std::string ProgramFolder(FolderUse use = FolderUse::Work) {
    const ProgramFolders folders = ResolveProgramFolders(ExecutableFolder(), FolderEnvironment::FromProcess());
    std::string error;
    if (use == FolderUse::Work && !PrepareWorkFolder(folders, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return {};
    }
    return folders.work.string();
}

// A parameter dump holds the login password, a trace may hold a dump: the OUT file is
// made as the working files are, for its owner only and never through a link.
bool WriteBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
    CPrivateFile out = CPrivateFile::Open(path, CPrivateFile::Mode::Truncate);
    return out.IsOpen() && out.WriteAll({data, size}) && out.Close();
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
    std::vector<std::string> operation;
    bool version = false;
    bool help = false;
    std::string dongle;   // the loop test's dongle; empty: the first hciN that opens
    std::optional<std::string> targetText;     // --target as given
    std::optional<MacAddress> target;          // --target
    unsigned paceMs = 0;                       // --pace-ms
    bool verify = false;
    int jsonFd = -1;                           // standard output as given, with --json
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

// Operations that talk to no target open no packet socket: they work for every user.
bool NeedsLink(const Options& options) {
    if (options.version || options.operation.empty()) return false;
    const std::string& op = options.operation[0];
    if (op == "check" || op == "history") return false;
    return !(op == "looptest" && options.operation.size() > 1 && options.operation[1] == "dongle-testmode");
}

// The result of a submitted job as the engine got it: a target status without a message
// of its own ends the wait as soon as the job ends. The engine's own wait ends first;
// the margin only guards against a link that never answers at all.
unsigned WaitOutcome(cli::CCliFrontEnd& front, std::uint8_t job, std::uint32_t linkWaitMs) {
    return front.WaitJobEnd(job, std::chrono::milliseconds(linkWaitMs) + 2s).value_or(unsigned{FdpTimeout});
}

// Waits for a transfer's answer; the whole answer may take the link's transfer time.
unsigned RunTransfer(cli::CCliFrontEnd& front, CFdpEngine& engine, int submitted) {
    if (submitted != 0) {
        std::printf("%s\n", front.resultText().c_str());
        return FdpBusy;
    }
    const unsigned code = WaitOutcome(front, JobTransfer, engine.Timeouts().transfer);
    if (code != 0) std::printf("%s%s\n", CFdpGui::StageText(63).c_str(), CFdpGui::ResultText(code).c_str());
    return code;
}

// Why a file the user named to be read cannot be sent; empty when it can. Only a regular
// file that opens for reading will do (a directory, FIFO or device would fail or hang
// the download), and this is found before the link is opened, so nothing is sent.
std::string InputFileProblem(const std::string& path, std::uint64_t& size) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::strerror(errno);
    if (S_ISDIR(info.st_mode)) return std::strerror(EISDIR);
    if (!S_ISREG(info.st_mode)) return "not a regular file";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::strerror(errno);
    ::close(fd);
    size = static_cast<std::uint64_t>(info.st_size);
    return {};
}

// Why an output file cannot be written where the user named it; empty when it can.
std::string OutputFileProblem(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) return S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : std::string();
    const auto slash = path.find_last_of('/');
    const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (::stat(parent.c_str(), &info) != 0) return std::strerror(errno);
    return S_ISDIR(info.st_mode) ? std::string() : std::strerror(ENOTDIR);
}

// The login password and set-name-password's new one from their sources; an exit code
// when one cannot be had.
std::optional<int> ResolvePasswords(Options& options) {
    cli::CSecretInput secrets;
    std::string error;
    // A signal while the terminal reads without echo: the echo comes back first.
    cli::CInterrupt::SetHook([] {
        cli::CSecretInput::RestoreTerminal();
        ::_exit(128 + cli::CInterrupt::Signal());
    });
    struct HookEnd {
        ~HookEnd() { cli::CInterrupt::SetHook({}); }
    } hookEnd;
    // A file that cannot be read is a file error; two sources at once, wrong usage;
    // Ctrl-C at a password prompt ends the tool as Ctrl-C does.
    const auto fail = [&](const std::optional<std::string>& file) {
        if (secrets.Interrupted()) return 128 + SIGINT;
        std::fprintf(stderr, "kelvane-cli: %s\n", error.c_str());
        return file && error.find(*file) != std::string::npos ? ExitFiles : ExitUsage;
    };
    for (const auto& file : {options.passwordFile, options.newPasswordFile})
        if (file) {
            if (const std::string warning = cli::CSecretInput::ExposureWarning(*file); !warning.empty())
                std::fprintf(stderr, "kelvane-cli: %s\n", warning.c_str());
        }
    const auto login = secrets.Resolve(options.passwordArg, options.passwordFile, "KELVANE_PASSWORD",
                                       options.password, error);
    if (!login) return fail(options.passwordFile);
    options.password = *login;
    auto& operation = options.operation;
    if (!operation.empty() && operation[0] == "set-name-password" && (operation.size() == 2 || operation.size() == 3)) {
        const auto given = operation.size() == 3 ? std::optional<std::string>(operation[2]) : std::nullopt;
        const auto fresh = secrets.Resolve(given, options.newPasswordFile, "KELVANE_NEW_PASSWORD", std::nullopt, error,
                                           "New password: ", true);
        if (!fresh) return fail(options.newPasswordFile);
        operation.resize(3);
        operation[2] = *fresh;
    }
    return std::nullopt;
}

// Prints the update history; no link is opened.
int ShowHistory(const Options& options) {
    std::size_t last = 0;
    if (options.operation.size() > 1) {
        const std::string& count = options.operation.size() == 3 ? options.operation[2] : std::string();
        char* end = nullptr;
        errno = 0;
        const unsigned long n = std::strtoul(count.c_str(), &end, 10);
        if (options.operation[1] != "--last" || count.empty() || count[0] == '-' || *end != '\0' || errno != 0 ||
            n == 0) {
            Usage();
            return ExitUsage;
        }
        last = n;
    }
    const CUpdateHistory history(
        HistoryFileIn(options.folder.empty() ? ProgramFolder(FolderUse::ReadOnly) : options.folder));
    const auto lines = last ? history.ReadLast(last) : history.Read();
    if (lines.empty()) {
        std::printf("No downloads recorded in %s\n", history.Path().c_str());
        return ExitOk;
    }
    std::fputs(FormatHistoryTable(lines, 0).c_str(), stdout);
    return ExitOk;
}

// After a burnt firmware area: the version the target now reports, said and recorded;
// with --verify a version other than the file's (or none) fails the run.
int ReportVersionAfter(cli::CCliFrontEnd& front, const Options& options, std::uint8_t kind, const std::string& file) {
    const auto after = front.BurntVersion();
    const std::string text = after ? after->Text() : std::string();
    std::printf("%s\n", after ? res::FormatString(res::IDS_VERSION_AFTER, {text}).c_str()
                              : res::LoadString(res::IDS_VERSION_AFTER_UNREAD).c_str());
    g_report.SetVersionAfter(after ? std::optional<std::string>(text) : std::nullopt);
    if (!options.verify) return ExitOk;
    FirmwareVersion fileVersion;
    const std::string expected =
        fdp::ReadFileVersion(kind == KindBoot ? fdp::FirmwareBoot : fdp::FirmwareProgram, file, 0, fileVersion) == 0
            ? fileVersion.Text()
            : std::string("?");
    if (after && text == expected) return ExitOk;
    std::fprintf(stderr, "%s\n",
                 res::FormatString(res::IDS_VERSION_MISMATCH, {after ? text : std::string("?"), expected}).c_str());
    return ExitVersionMismatch;
}

// One run: open the adapter, log in to a target, run the operation. With served (for
// --repeat), targets in it are let pass and the one served is added.
int Run(const Options& options, std::vector<MacAddress>* served = nullptr) {
    const std::string& op = options.operation[0];
    if (op == "history") return ShowHistory(options);
    const auto arg = [&](std::size_t i) { return i < options.operation.size() ? options.operation[i] : std::string(); };
    // The operation and its area; a task's arguments may hold a password.
    g_report.SetOperation(op == "download" || op == "erase" || op == "version" ? op + " " + arg(1) : op);
    std::uint8_t kind = 0;
    if ((op == "download" && (!KindFromName(arg(1), kind) || arg(2).empty())) ||
        (op == "erase" && !KindFromName(arg(1), kind)) || ((op == "params" || op == "trace") && arg(1).empty()) ||
        (op == "version" && arg(1) != "boot" && arg(1) != "program") ||
        (op == "check" && arg(1).empty()) ||
        (op != "download" && op != "erase" && op != "params" && op != "trace" && op != "version" && op != "check" &&
         op != "diagnose" && op != "testmode" && op != "looptest" && op != "targets" && !cli::IsParamTask(op))) {
        Usage();
        return ExitUsage;
    }

    // The operation and its area; a task's arguments may hold a password.
    g_report.SetOperation(op == "download" || op == "erase" || op == "version" ? op + " " + arg(1) : op);

    // A parameter task checks its arguments first, then downloads the working file it built.
    const bool paramTask = cli::IsParamTask(op);
    std::optional<cli::ParamTaskRequest> paramRequest;
    if (paramTask) {
        std::string error;
        paramRequest = cli::ParseParamTask(options.operation, error);
        if (!paramRequest) {
            std::fprintf(stderr, "kelvane-cli: %s\n", error.c_str());
            return ExitUsage;
        }
    }

    std::optional<cli::LoopTestRequest> loopRequest;
    if (op == "looptest") {
        std::string error;
        loopRequest = cli::ParseLoopTest(options.operation, error);
        if (!loopRequest) {
            std::fprintf(stderr, "kelvane-cli: %s\n", error.c_str());
            return ExitUsage;
        }
        // The dongle's own test mode needs no target.
        if (loopRequest->kind == cli::LoopTestKind::DongleTestMode) return cli::RunLoopTest(nullptr, *loopRequest, options.dongle);
    }

    if (op == "check") return cli::RunFileCheck(arg(1));
    if (op == "targets") {
        std::string error;
        const auto request = cli::ParseTargets(options.operation, error);
        if (!request) {
            std::fprintf(stderr, "kelvane-cli: %s\n", error.c_str());
            return ExitUsage;
        }
        g_reportWanted = false;   // with --json, an object per target instead
        return cli::RunTargets(*request, {options.interface, options.target, options.json, options.jsonFd});
    }

    std::uint64_t fileSize = 0;
    std::string downloadPath = arg(2);
    const bool firmware = op == "download" && kind != KindParam;
    const fdp::FirmwareKind firmwareKind = kind == KindBoot ? fdp::FirmwareBoot : fdp::FirmwareProgram;
    if (op == "download") {
        if (const std::string problem = InputFileProblem(arg(2), fileSize); !problem.empty()) {
            if (firmware) std::fprintf(stderr, "%s\n", cli::FileCheckMessage(fdp::FileCheckCannotOpen).c_str());
            std::fprintf(stderr, "Cannot read %s: %s\n", arg(2).c_str(), problem.c_str());
            return ExitFiles;
        }
        if (firmware) {
            if (const auto refused = cli::RefuseFirmwareFile(firmwareKind, arg(2), options.force)) return *refused;
        }
        // A parameter block holds the login password: its fields by name, no hash.
        if (firmware) {
            g_report.SetFile(arg(2), Sha256File(arg(2)));
        } else {
            g_report.SetFile(arg(2), std::nullopt);
            g_report.SetFields(cli::ChangedFieldsOf(arg(2)));
        }
    }
    if (op == "params" || op == "trace") {
        if (const std::string problem = OutputFileProblem(arg(1)); !problem.empty()) {
            std::fprintf(stderr, "Cannot write %s: %s\n", arg(1).c_str(), problem.c_str());
            return ExitFiles;
        }
    }

    const std::string folder = options.folder.empty() ? ProgramFolder() : options.folder;
    if (paramRequest && folder.empty()) {
        std::fprintf(stderr, "There is no working param.jdp to change without a folder for the files\n");
        return ExitFiles;
    }
    // A parameter task's block goes into a new file; param.jdp takes it once it is burnt.
    cli::CParamDraft draft;
    if (paramRequest) {
        std::string error;
        if (!draft.Create(folder, error) || !cli::BuildParamFile(*paramRequest, draft.Path(), error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return ExitFiles;
        }
        kind = KindParam;
        downloadPath = draft.Path().string();
        g_report.SetFile(draft.WorkingFile().string(), std::nullopt);
        g_report.SetFields(cli::ChangedFieldsOf(downloadPath));
        fileSize = kParamImageLen;
    }

    cli::CCliFrontEnd front(options.progress);
    front.SetPaceMs(options.paceMs);
    cli::CInterrupt::SetHook([&front] { front.Interrupt(); });
    struct HookEnd {
        ~HookEnd() { cli::CInterrupt::SetHook({}); }
    } hookEnd;   // cleared before front goes
    CPacketSocketDriver driver;
    CFdpEngine engine;
    front.SetProgramFolder(folder);
    if (!front.StartLink()) {
        std::fprintf(stderr, "Cannot create trace.txt and Target_Bt_Addr.txt in %s\n", front.ProgramFolder().c_str());
        return ExitFiles;
    }
    if (!options.interface.empty()) driver.SetInterfaceFilter(options.interface);
    if (options.flashWaitMs) {
        LinkTimeouts waits;
        waits.flashShort = waits.flashLong = options.flashWaitMs;
        engine.SetTimeouts(waits);
    }
    engine.Start(&driver, &front);
    if (served) engine.Channel()->SetIgnoredTargets(*served);
    if (options.target) engine.Channel()->SetChosenTarget(*options.target);
    // Every way out of the run from here on reports the other targets heard meanwhile.
    // A run that logged in and is over within the first announce period still hears it
    // out, so that another target on the network is not missed by a quick operation.
    struct OthersToReport {
        cli::CCliFrontEnd& front;
        std::chrono::steady_clock::time_point listenedAt{};
        bool connected = false;
        ~OthersToReport() {
            if (connected && front.OtherTargets().empty()) front.WaitInterrupted(listenedAt + kAnnouncePeriod);
            std::vector<std::pair<std::string, std::string>> others;
            for (const auto& other : front.OtherTargets()) others.emplace_back(FormatBdAddr(other.address), other.adapter);
            g_report.SetOtherTargets(std::move(others));
        }
    } othersToReport{front};
    front.SetLink(&engine, &driver);

    const int opened = front.OpenFirstAdapter();
    if (opened < 0) {
        std::fprintf(stderr, "%s\n", front.NoAdapterMessage("\n").c_str());
        return ExitNoAdapter;
    }
    std::printf("Adapter: %s\n", engine.GetAdapterDescription(opened).c_str());
    g_report.SetAdapter(engine.GetAdapterDescription(opened));

    front.SetPassword(options.password);
    othersToReport.listenedAt = std::chrono::steady_clock::now();
    if (front.Listen() != 0) {
        std::printf("%s\n", front.resultText().c_str());
        return ExitConnect + int{ConnectAborted};
    }
    std::printf("%s\n", front.resultText().c_str());
    const auto& timeouts = engine.Timeouts();
    const auto connected = front.WaitResult(WM_FDP_CONNECT, std::chrono::milliseconds(timeouts.listen + timeouts.login) + 2s);
    if (front.Interrupted()) return StopInterrupted(front, Stopped::Listening, kind);
    const unsigned connect = connected ? connected->wParam : unsigned{ConnectTimeout};
    const MacAddress address = front.TargetAddress();
    char addressText[18];
    std::snprintf(addressText, sizeof addressText, "%02x:%02x:%02x:%02x:%02x:%02x", address[0], address[1], address[2],
                  address[3], address[4], address[5]);
    // A target that announced and refused the login is served too: --repeat does not
    // try a wrong password on it again each time it announces.
    if (connect != ConnectTimeout && connect != ConnectAborted) {
        g_report.SetTarget(addressText);
        if (served) served->push_back(address);
    }
    if (connect != ConnectOk) {
        std::printf("%s\n", ConnectText(connect));
        g_report.SetOutcome("login", ConnectText(connect), connect);
        return ExitConnect + static_cast<int>(connect);
    }
    othersToReport.connected = true;
    std::printf("%s %s\n", ConnectText(connect), addressText);
    std::printf(res::CurrentLanguage() == res::Language::Chinese ? "使用网卡 %s，设备 %s\n" : "Adapter in use: %s, target %s\n",
                front.AdapterName().c_str(), addressText);
    // The target may have answered on another adapter than the one opened first.
    g_report.SetAdapter(engine.GetAdapterDescription(front.AdapterIndex()));

    if (loopRequest) return cli::RunLoopTest(&front, *loopRequest, options.dongle);
    if (firmware) {
        // A version the target does not give (refused, failed, timed out) may be newer
        // than the file: refused as a downgrade would be, unless forced.
        auto block = MakeBuffer(kVersionBlockLen);
        const std::uint8_t wanted = kind == KindBoot ? 13 : 14;
        (*block)[0] = wanted;
        std::optional<FirmwareVersion> target;
        if (RunTransfer(front, engine, front.GetTargetVersion(block)) == 0) {
            target = FirmwareVersion::FromAnswer(block->data(), wanted);
            // The version read goes into the update history with the download.
            front.SetTargetVersion(kind, target->Text());
        }
        if (const auto refused = cli::RefuseFirmwareVersion(firmwareKind, arg(2), target, options.force))
            return *refused;
    }
    if (op == "download" || paramTask) {
        front.SetHistoryTask("kelvane-cli " + op);
        if (kind == KindParam) front.SetHistoryFields(cli::ChangedFieldsOf(downloadPath));
        front.BeginDownload();
        if (front.StartDownload(kind, downloadPath) != 0) {
            std::printf("%s\n", front.resultText().c_str());
            return OperationExit(FdpBusy);
        }
        // Transfer (2 s a block, three sends) is bounded by the file; erase and burn by their waits.
        const auto blocks = fileSize / 1024 + 3;
        const auto bound = std::chrono::milliseconds(blocks * (timeouts.status * timeouts.blockSends + options.paceMs) +
                                                     2 * timeouts.Flash(kind) + timeouts.transfer) + 5s;
        if (!front.WaitDownloadEnd(bound)) {
            if (front.Interrupted()) return StopInterrupted(front, Stopped::Download, kind);
            std::printf("%s\n", CFdpGui::ResultText(FdpTimeout).c_str());
            RecordOutcome(front.LastStage(), FdpTimeout);
            return OperationExit(FdpTimeout);
        }
        std::printf("%s\n", front.resultText().c_str());
        RecordOutcome(front.LastStage(), front.DownloadResult());
        if (paramTask && front.DownloadResult() == 0) {
            std::string error;
            if (!draft.Commit(error)) {
                std::fprintf(stderr, "The target burnt the parameters, but %s\n", error.c_str());
                return ExitFiles;
            }
        }
        if (front.DownloadResult() != 0 || !firmware) return OperationExit(front.DownloadResult());
        return ReportVersionAfter(front, options, kind, arg(2));
    }
    if (op == "erase") {
        FdpRequest request;
        request.job = JobErase;
        request.kind = kind;
        if (engine.Submit(request) != 0) return OperationExit(FdpBusy);
        const unsigned code = WaitOutcome(front, JobErase, timeouts.Flash(kind));
        if (front.Interrupted()) return StopInterrupted(front, Stopped::Erase, kind);
        std::printf("%s%s\n", CFdpGui::StageText((kind - 1) * 10 + 3).c_str(), CFdpGui::ResultText(code).c_str());
        RecordOutcome((kind - 1) * 10 + 3, code);
        return OperationExit(code);
    }
    if (op == "params" || op == "trace") {
        auto buffer = MakeBuffer(kParamImageLen);
        const bool params = op == "params";
        const int submitted = params ? front.GetParams(buffer) : front.GetTrace(buffer);
        std::printf("%s\n", front.resultText().c_str());
        if (submitted != 0) return OperationExit(FdpBusy);
        const unsigned code = WaitOutcome(front, params ? JobGetParams : JobGetTrace,
                                          params ? timeouts.params : timeouts.trace);
        if (front.Interrupted()) return StopInterrupted(front, Stopped::Request, kind);
        std::printf("%s%s\n", CFdpGui::StageText(params ? 73 : 83).c_str(), CFdpGui::ResultText(code).c_str());
        RecordOutcome(params ? 73 : 83, code);
        if (code != 0) return OperationExit(code);
        const std::size_t size = params ? kParamImageLen : std::min<std::size_t>(front.TraceTotal(), buffer->size());
        if (!WriteBytes(arg(1), buffer->data(), size)) {
            std::fprintf(stderr, "Cannot write %s\n", arg(1).c_str());
            return OperationExit(FdpFileError);
        }
        g_report.SetFile(arg(1), params ? std::nullopt : Sha256File(arg(1)));
        return ExitOk;
    }
    if (op == "version") {
        auto block = MakeBuffer(kVersionBlockLen);
        (*block)[0] = arg(1) == "boot" ? 0x0D : 0x0E;
        const unsigned code = RunTransfer(front, engine, front.GetTargetVersion(block));
        if (front.Interrupted()) return StopInterrupted(front, Stopped::Request, kind);
        RecordOutcome(63, code);
        if (code == 0) {
            const std::string version = FirmwareVersion::FromLe(block->data()).Text();
            std::printf("%s version: %s\n", arg(1).c_str(), version.c_str());
            g_report.SetVersion(arg(1), version);
        }
        return OperationExit(code);
    }
    auto block = MakeBuffer(kTestBlockLen);
    if (op == "diagnose") {
        (*block)[0] = 0xFF;
        const int submitted = front.DiagnoseTarget(block);
        std::printf("%s\n", front.resultText().c_str());
        const unsigned code = RunTransfer(front, engine, submitted);
        if (front.Interrupted()) return StopInterrupted(front, Stopped::Request, kind);
        RecordOutcome(63, code);
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
    block = hci::CLoopRunner::TargetTestModeBlock();
    const int submitted = front.EnableTargetTestMode(block);
    std::printf("%s\n", front.resultText().c_str());
    const unsigned code = RunTransfer(front, engine, submitted);
    if (front.Interrupted()) return StopInterrupted(front, Stopped::Request, kind);
    RecordOutcome(63, code);
    if (code != 0) return OperationExit(code);
    const bool ok = (*block)[0] == 0;
    std::printf("%s\n", ok ? "Target has been under the Test Mode!" : "Enable target under test mode failed!");
    return ok ? ExitOk : OperationExit(FdpFailed);
}

}  // namespace

int main(int argc, char** argv) {
    res::SetLanguage(res::SystemLanguage());
    Options options;
    const bool parsed = Parse(argc, argv, options);
    // Asked for, the help is the answer, whatever else is given: standard output, success.
    if (options.help) {
        std::fputs(cli::HelpText(), stdout);
        return ExitOk;
    }
    // The link's packet socket and the loop test's hciN controller are the only things
    // that need a capability: opened now, then every capability goes, before any file is
    // read or any other option acted on. A socket that does not open is told of when the
    // link starts.
    if (parsed && NeedsLink(options)) CPacketSocketDriver::SetProcessSocket(CPacketSocketDriver::OpenSocket());
    if (parsed && !options.operation.empty() && options.operation[0] == "looptest") hci::PreopenHciTransport(options.dongle);
    if (std::string error; !DropCapabilities(error)) {
        std::fprintf(stderr, "kelvane-cli: %s\n", error.c_str());
        return ExitUsage;
    }
    // Before the link's threads, which inherit its mask. The loop test's own waits do not
    // watch for it, so there Ctrl-C keeps ending the tool at once.
    if (options.operation.empty() || options.operation[0] != "looptest") cli::CInterrupt::Install();
    // --json: the object alone on standard output, every human text on standard error;
    // --quiet: no human texts (complaints still go to standard error).
    const bool terminal = isatty(STDOUT_FILENO) != 0;
    const int jsonFd = options.json ? ::dup(STDOUT_FILENO) : -1;
    // --repeat's summary lines: standard output as given, also with --quiet.
    const int summaryFd = options.json ? STDERR_FILENO : ::dup(STDOUT_FILENO);
    if (options.json) ::dup2(STDERR_FILENO, STDOUT_FILENO);
    if (options.quiet) {
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) ::dup2(null, STDOUT_FILENO);
        if (null >= 0) ::close(null);
    }
    options.progress = options.progress && terminal && !options.quiet;
    const auto finish = [&](int code) {
        std::fflush(stdout);
        if (jsonFd >= 0 && g_reportWanted) {
            const std::string line = g_report.Json(code) + "\n";
            if (::write(jsonFd, line.data(), line.size()) < 0) return code;
        }
        return code;
    };
    if (!parsed) {
        Usage();
        return finish(ExitUsage);
    }
    if (options.version) {
        std::printf("kelvane-cli %s\nfiles: %s\n", KELVANE_VERSION,
                    (options.folder.empty() ? ProgramFolder(FolderUse::ReadOnly) : options.folder).c_str());
        return ExitOk;
    }
    if (options.targetText) {
        options.target = ParseTargetAddress(*options.targetText);
        if (!options.target) {
            std::fprintf(stderr, "kelvane-cli: %s\n", res::FormatString(res::IDS_BAD_TARGET_ADDRESS, {*options.targetText}).c_str());
            return finish(ExitUsage);
        }
        if (options.repeat) {
            std::fprintf(stderr, "kelvane-cli: %s\n", res::LoadString(res::IDS_TARGET_WITH_REPEAT).c_str());
            return finish(ExitUsage);
        }
    }
    options.jsonFd = jsonFd;
    if (const auto failed = ResolvePasswords(options)) return finish(*failed);
    if (!options.repeat) return finish(Run(options));

    // --repeat: the same operation on every new target until interrupted, a summary line
    // (and with --json an object) per target. A summary is shown even with --quiet.
    std::vector<MacAddress> served;
    int worst = ExitOk;
    for (;;) {
        g_report = cli::CRunReport();
        const int code = Run(options, &served);
        if (code == ExitUsage || code == ExitNoAdapter || code == ExitFiles) return finish(code);
        const bool listenedOnly = g_report.Target().empty();
        if (cli::CInterrupt::Signal()) return listenedOnly ? worst : finish(code);
        if (listenedOnly && code == ExitConnect + ConnectTimeout) continue;   // nobody new yet: wait on
        finish(code);
        if (code != ExitOk) worst = code;
        const std::string line = g_report.Summary(code) + "\n";
        if (::write(summaryFd, line.data(), line.size()) < 0) return worst;
    }
}
