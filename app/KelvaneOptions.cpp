#include "app/KelvaneOptions.h"

#include <algorithm>
#include <iterator>
#include <string_view>

#include "fdp/WholeNumber.h"

namespace {

// Qt's own options that take a value, as QGuiApplication and QApplication read them.
constexpr std::string_view kQtValueOptions[] = {
    "-platform", "-platformpluginpath", "-platformtheme", "-plugin", "-qwindowgeometry", "-qwindowicon",
    "-qwindowtitle", "-style", "-stylesheet", "-session", "-display", "-geometry", "-title", "-name", "-icon"};
// And those that stand alone.
constexpr std::string_view kQtFlags[] = {"-reverse", "-widgetcount", "-nograb", "-dograb", "-sync", "-reverse"};

bool OneOf(std::string_view word, const auto& list) {
    return std::find(std::begin(list), std::end(list), word) != std::end(list);
}

bool Set(const char* value) { return value && *value; }

// A download's pause after each block: a longer one would only slow a download down.
constexpr unsigned kMaxPaceMs = 100;

bool ParsePace(const std::string& text, unsigned& into) {
    const fdp::WholeNumber value = fdp::ReadWholeNumber(text, 0, kMaxPaceMs);
    if (value) into = static_cast<unsigned>(value.value);
    return static_cast<bool>(value);
}

}  // namespace

CKelvaneOptions CKelvaneOptions::Parse(int argc, const char* const* argv) {
    CKelvaneOptions options;
    for (int i = 1; i < argc && options.error.empty(); ++i) {
        std::string arg = argv[i];
        std::string value;
        bool inlineValue = false;
        if (arg.starts_with("--")) {
            if (const auto equals = arg.find('='); equals != std::string::npos) {
                value = arg.substr(equals + 1);
                arg.resize(equals);
                inlineValue = true;
            }
        }
        const auto take = [&](std::string& into) {
            if (inlineValue) {
                into = value;
            } else if (i + 1 < argc) {
                into = argv[++i];
            } else {
                options.error = "option " + arg + " needs a value";
                return;
            }
            if (into.empty()) options.error = "option " + arg + " needs a value";
        };
        const auto flag = [&](bool& into) {
            if (inlineValue) options.error = "option " + arg + " takes no value";
            into = true;
        };
        if (arg == "--interface") take(options.interfaceName);
        else if (arg == "--dongle") take(options.dongleDevice);
        else if (arg == "--target") take(options.target);
        else if (arg == "--pace-ms") {
            std::string pace;
            take(pace);
            if (options.error.empty() && !ParsePace(pace, options.paceMs))
                options.error = "--pace-ms takes a number from 0 to " + std::to_string(kMaxPaceMs) + ": " + pace;
        } else if (arg == "--all-tasks") flag(options.allTasks);
        else if (arg == "--help" || arg == "-h") flag(options.help);
        else if (arg == "--help-all") flag(options.helpAll);
        else if (arg == "--version" || arg == "-v") flag(options.version);
        else if (OneOf(arg, kQtValueOptions)) {
            if (i + 1 >= argc) options.error = "option " + arg + " needs a value";
            else if (arg == "-platform") options.platform = argv[++i];
            else ++i;
        } else if (OneOf(arg, kQtFlags) || arg.starts_with("-qmljsdebugger=")) {
            // Qt's
        } else if (arg.starts_with("-")) {
            options.error = "unknown option " + arg;
        } else {
            options.error = "unexpected argument " + arg;
        }
    }
    return options;
}

const char* CKelvaneOptions::HelpText() {
    return "usage: kelvane [--interface LIST] [--dongle DEVICE] [--all-tasks]\n"
           "               [--target ADDRESS] [--pace-ms N]\n"
           "       kelvane --help | --version\n"
           "The Firmware Management Wizard: updates the firmware of a Bluetooth network access point\n"
           "(the target) over Ethernet, sets its name and password and runs its loop test.\n"
           "  --interface LIST  use only these Ethernet interfaces: names or shell patterns,\n"
           "                    separated by commas ('kv*,enx*'). Without it the wizard listens on\n"
           "                    the wired and USB adapters and works on the one where the target\n"
           "                    announces; a wireless or virtual adapter (veth, tap, bridge,\n"
           "                    VLAN ...) is used only when named here\n"
           "  --dongle DEVICE   the USB Bluetooth dongle of the loop test: hciN, /dev/tty...[:BAUD]\n"
           "                    [:noflow] or unix:PATH (an hciN is bound at start, while the program\n"
           "                    may still do so)\n"
           "  --all-tasks       also offer the DHCP/NAT, register and loop test tasks\n"
           "  --target ADDRESS  log in only to the target of this Ethernet address\n"
           "                    (aa:bb:cc:dd:ee:ff or aa-bb-cc-dd-ee-ff)\n"
           "  --pace-ms N       pause N ms (0-100) after each block of a download; 10, the\n"
           "                    default, is the pace targets are known to take\n"
           "  --help            this text (--help-all: with Qt's own options)\n"
           "  --version         the program's version\n"
           "Qt's own options (-platform NAME, -style NAME ...) are passed on to Qt. Without a\n"
           "graphical session use kelvane-cli.\n";
}

const char* CKelvaneOptions::QtOptionsText() {
    return "Qt's own options:\n"
           "  -platform NAME[:OPTIONS]   the platform plugin (xcb, wayland, offscreen ...)\n"
           "  -platformpluginpath PATH   where platform plugins are looked for\n"
           "  -platformtheme NAME        the platform theme\n"
           "  -plugin NAME               an additional plugin\n"
           "  -qwindowgeometry GEOMETRY  the main window's geometry\n"
           "  -qwindowicon ICON, -qwindowtitle TITLE\n"
           "  -style NAME, -stylesheet FILE\n"
           "  -reverse                   right-to-left layout\n"
           "  -session NAME, -display DISPLAY, -geometry GEOMETRY, -title TITLE, -name NAME\n"
           "  -widgetcount, -nograb, -dograb, -sync\n";
}

const char* CKelvaneOptions::UsageText() {
    return "usage: kelvane [--interface LIST] [--dongle DEVICE] [--all-tasks] [--target ADDRESS]\n"
           "               [--pace-ms N] [--help] [--version]\n";
}

bool CKelvaneOptions::HasDisplay(const char* qpaPlatform, const char* display, const char* waylandDisplay) const {
    const std::string platforms = !platform.empty() ? platform : Set(qpaPlatform) ? qpaPlatform : "";
    if (platforms.empty()) return Set(display) || Set(waylandDisplay);
    // A list tried in order ("wayland;xcb"); each name may carry arguments after ':'.
    std::string_view rest = platforms;
    while (!rest.empty()) {
        const auto end = rest.find(';');
        std::string_view name = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        name = name.substr(0, name.find(':'));
        if (name == "xcb") {
            if (Set(display)) return true;
        } else if (name.starts_with("wayland")) {
            if (Set(waylandDisplay)) return true;
        } else if (!name.empty()) {
            return true;   // offscreen, minimal, vnc, eglfs, linuxfb: no display server needed
        }
    }
    return false;
}
