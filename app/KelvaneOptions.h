// kelvane's command line, read before anything else runs: before the packet socket is
// opened and long before the application object exists, so that --help, --version and a
// wrong option never need a display, a privilege or a file. Qt's own options (-platform
// NAME, -style NAME ...) are let through for the application object. No Qt here.
#pragma once

#include <string>

struct CKelvaneOptions {
    std::string interfaceName;   // --interface LIST: only these adapters, names or patterns (any kind)
    std::string dongleDevice;    // --dongle DEVICE: the loop test's dongle
    bool allTasks = false;       // --all-tasks
    // --target ADDRESS as given: checked once the application exists, since a malformed
    // address is told in a message box.
    std::string target;
    unsigned paceMs = 10;        // --pace-ms N (0..100): the pause after each block of a download
    bool help = false;           // --help, -h
    bool helpAll = false;        // --help-all: the help and Qt's own options
    bool version = false;        // --version, -v
    std::string platform;        // Qt's -platform NAME, when given
    std::string error;           // why the command line is wrong; empty when it is not

    static CKelvaneOptions Parse(int argc, const char* const* argv);

    // The texts: the whole help for standard output, the short usage for a usage error.
    static const char* HelpText();
    static const char* QtOptionsText();
    static const char* UsageText();

    // Whether Qt will find somewhere to show the window: a platform that needs no
    // display (offscreen, minimal, vnc, eglfs ...) or the display its platform needs.
    // The arguments are the environment's QT_QPA_PLATFORM, DISPLAY and WAYLAND_DISPLAY
    // (null when unset); -platform on the command line wins over QT_QPA_PLATFORM.
    bool HasDisplay(const char* qpaPlatform, const char* display, const char* waylandDisplay) const;
};
