// Ctrl-C (SIGINT) and SIGTERM for kelvane-cli. The first one is noted and wakes the
// tool's waits through the hook, so that it stops the link cleanly and says what state
// the target was left in; a second one ends the process at once. The signals are taken
// by a thread of their own (sigwait), never by a handler inside a link thread.
#pragma once

#include <functional>

namespace cli {

class CInterrupt {
public:
    // Blocks the signals in the calling thread, which every thread started later
    // inherits, and starts the watching thread. Call before any other thread starts.
    static void Install();
    // The signal that came, or 0.
    static int Signal();
    // Called on the watching thread when the signal comes (at once if it came already);
    // an empty function clears it. The caller clears it before the hook's target dies.
    static void SetHook(std::function<void()> hook);
};

}  // namespace cli
