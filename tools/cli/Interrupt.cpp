#include "tools/cli/Interrupt.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace cli {
namespace {

std::atomic<int> g_signal{0};
std::mutex g_hookLock;
std::function<void()> g_hook;

sigset_t Signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

void Watch() {
    const sigset_t set = Signals();
    int signal = 0;
    while (sigwait(&set, &signal) != 0) {
    }
    g_signal = signal;
    {
        std::lock_guard lock(g_hookLock);
        if (g_hook) g_hook();
    }
    // A second signal finds its default action: this is the one thread that takes it.
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    for (;;) ::pause();
}

}  // namespace

void CInterrupt::Install() {
    const sigset_t set = Signals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread(Watch).detach();
}

int CInterrupt::Signal() { return g_signal; }

void CInterrupt::SetHook(std::function<void()> hook) {
    std::lock_guard lock(g_hookLock);
    g_hook = std::move(hook);
    if (g_hook && g_signal) g_hook();
}

}  // namespace cli
