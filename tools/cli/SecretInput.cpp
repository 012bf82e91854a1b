#include "tools/cli/SecretInput.h"

#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "resources/strings/StringTable.h"

namespace cli {
namespace {

constexpr unsigned kMismatchText = 3007;   // "Sorry, passwords do not match. ..."

// The terminal whose echo is off, and its settings before, for RestoreTerminal.
std::atomic<int> g_terminal{-1};
termios g_saved{};

// Signals that end the process by default. The terminal sends none while echo is off,
// but another process may (kill, a closed terminal window, a service stop).
constexpr int kEndingSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

// Puts the terminal back, then lets the signal end the process as it would have: the
// handler is reset on entry (SA_RESETHAND) and the signal raised again is delivered when
// it returns. Only async-signal-safe calls.
void RestoreAndEnd(int signal) {
    CSecretInput::RestoreTerminal();
    ::raise(signal);
}

// Echo off for the time of one read; the settings come back when it goes, and when a
// signal ends the process first. Where kelvane-cli's signal watcher has the signal
// blocked, the watcher takes it and puts the terminal back itself; these handlers serve
// the rest (the loop test, which has no watcher, and SIGHUP and SIGQUIT everywhere).
class QuietTerminal {
public:
    explicit QuietTerminal(int fd) {
        if (::tcgetattr(fd, &g_saved) != 0) return;
        termios quiet = g_saved;
        // Byte by byte, so that Ctrl-C is seen at once as the byte it is and no signal
        // leaves the terminal without echo behind a process that is gone.
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG);
        quiet.c_cc[VMIN] = 1;
        quiet.c_cc[VTIME] = 0;
        struct sigaction restore{};
        restore.sa_handler = RestoreAndEnd;
        restore.sa_flags = SA_RESETHAND;
        sigemptyset(&restore.sa_mask);
        for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) ::sigaction(kEndingSignals[i], &restore, &m_before[i]);
        m_handled = true;
        g_terminal = fd;
        if (::tcsetattr(fd, TCSANOW, &quiet) != 0) g_terminal = -1;
    }
    ~QuietTerminal() {
        CSecretInput::RestoreTerminal();
        if (!m_handled) return;   // the terminal's settings could not be read: nothing was changed
        for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) ::sigaction(kEndingSignals[i], &m_before[i], nullptr);
    }
    QuietTerminal(const QuietTerminal&) = delete;
    QuietTerminal& operator=(const QuietTerminal&) = delete;

private:
    struct sigaction m_before[std::size(kEndingSignals)]{};
    bool m_handled = false;
};

}  // namespace

void CSecretInput::RestoreTerminal() {
    const int fd = g_terminal.exchange(-1);
    if (fd >= 0) ::tcsetattr(fd, TCSANOW, &g_saved);
}

std::optional<std::string> CSecretInput::ReadLine(std::FILE* in) {
    std::string line;
    int c = 0;
    while ((c = std::fgetc(in)) != EOF && c != '\n') line.push_back(static_cast<char>(c));
    if (c == EOF && line.empty()) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

std::optional<std::string> CSecretInput::ReadTerminal(const char* prompt) {
    const int fd = ::fileno(m_in);
    if (m_prompts) {
        std::fputs(prompt, m_prompts);
        std::fflush(m_prompts);
    }
    std::optional<std::string> line;
    {
        QuietTerminal quiet(fd);
        std::string typed;
        for (;;) {
            char c = 0;
            const ssize_t n = ::read(fd, &c, 1);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {   // the end of input or an error: what was typed, if anything
                if (!typed.empty()) line = typed;
                break;
            }
            if (c == '\n' || c == '\r') {
                line = typed;
                break;
            }
            if (c == static_cast<char>(g_saved.c_cc[VINTR]) || c == '\x03') {
                m_interrupted = true;
                break;
            }
            if (c == static_cast<char>(g_saved.c_cc[VEOF]) && typed.empty()) break;
            if (c == static_cast<char>(g_saved.c_cc[VERASE]) || c == '\x7f' || c == '\b') {
                // One character back, not one byte: UTF-8 continuation bytes go with it.
                while (!typed.empty() && (static_cast<unsigned char>(typed.back()) & 0xC0) == 0x80) typed.pop_back();
                if (!typed.empty()) typed.pop_back();
                continue;
            }
            if (c == static_cast<char>(g_saved.c_cc[VKILL])) {
                typed.clear();
                continue;
            }
            typed.push_back(c);
        }
        // The typed secret leaves no copy behind in this buffer.
        std::fill(typed.begin(), typed.end(), '\0');
    }
    // The line end the echo did not show.
    if (m_prompts) {
        std::fputc('\n', m_prompts);
        std::fflush(m_prompts);
    }
    return line;
}

std::optional<std::string> CSecretInput::ReadStandardInput(const char* prompt, bool confirm, std::string& error) {
    if (!m_in) {
        error = "no password on standard input";
        return std::nullopt;
    }
    if (::isatty(::fileno(m_in)) == 0) {
        std::optional<std::string> line = ReadLine(m_in);
        if (!line) error = "no password on standard input";
        return line;
    }
    std::optional<std::string> first = ReadTerminal(prompt);
    if (first && confirm && !m_interrupted) {
        const std::optional<std::string> again = ReadTerminal("Again: ");
        if (!m_interrupted && again != first) {
            error = res::LoadString(kMismatchText);
            return std::nullopt;
        }
    }
    if (m_interrupted) error = "interrupted";
    else if (!first) error = "no password on standard input";
    return m_interrupted ? std::nullopt : first;
}

std::optional<std::string> CSecretInput::Resolve(const std::optional<std::string>& value,
                                                 const std::optional<std::string>& file, const char* variable,
                                                 const std::optional<std::string>& fallback, std::string& error,
                                                 const char* prompt, bool confirm) {
    if (value && file) {
        error = "give the password either on the command line or in a file, not both";
        return std::nullopt;
    }
    if (file && *file == "-") return ReadStandardInput(prompt, confirm, error);
    if (file) {
        std::FILE* in = std::fopen(file->c_str(), "rb");
        if (!in) {
            error = "cannot read " + *file + ": " + std::strerror(errno);
            return std::nullopt;
        }
        std::optional<std::string> line = ReadLine(in);
        std::fclose(in);
        if (!line) error = *file + " is empty";
        return line;
    }
    if (value && *value == "-") return ReadStandardInput(prompt, confirm, error);
    if (value) return value;
    if (const char* text = std::getenv(variable)) return std::string(text);
    if (!fallback) error = std::string("no password given (nor ") + variable + ")";
    return fallback;
}

std::string CSecretInput::ExposureWarning(const std::string& file) {
    struct stat info{};
    if (::stat(file.c_str(), &info) != 0 || (info.st_mode & (S_IRGRP | S_IROTH)) == 0) return {};
    return file + " may be read by other users (chmod 600 " + file + ")";
}

}  // namespace cli
