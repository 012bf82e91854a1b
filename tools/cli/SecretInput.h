// Where kelvane-cli takes a password from. A password on the command line is visible to
// every user of the machine in the process list, so the tool also reads it from a file
// (--password-file FILE), from standard input (the value "-", or the file "-") or from
// an environment variable, which only the same user can read.
//
// Standard input that is a terminal is read without echo, behind a prompt, with the
// terminal's own settings put back on every way out: the end of the line, the end of
// input, an error, Ctrl-C, which ends the read at once as Interrupted(), and a signal
// from another process, which still ends the process.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace cli {

class CSecretInput {
public:
    // Lines of "-" values are read from in, one per password, in the order asked;
    // prompts go to prompts when in is a terminal.
    explicit CSecretInput(std::FILE* in = stdin, std::FILE* prompts = stderr) : m_in(in), m_prompts(prompts) {}

    // The password given by value ("-": the next line of standard input), by file (its
    // first line; "-": standard input) or by the environment variable, in that order;
    // fallback when none is given. Nothing, with the reason in error, when both value
    // and file are given, the source cannot be read, or Ctrl-C ended the read. A
    // trailing line end is not part of the password. From a terminal it is asked with
    // prompt and, when confirm is set, asked again; two answers that differ are refused
    // with the name and password page's own words (string 3007).
    std::optional<std::string> Resolve(const std::optional<std::string>& value, const std::optional<std::string>& file,
                                       const char* variable, const std::optional<std::string>& fallback,
                                       std::string& error, const char* prompt = "Password: ", bool confirm = false);

    // Ctrl-C came while a password was read from the terminal.
    bool Interrupted() const { return m_interrupted; }

    // Puts back the terminal settings of a read in progress (from a signal's watcher:
    // only async-signal-safe calls). Nothing when no read is in progress.
    static void RestoreTerminal();

    // A warning for a password file that other users may read, or empty.
    static std::string ExposureWarning(const std::string& file);

private:
    std::optional<std::string> ReadLine(std::FILE* in);
    std::optional<std::string> ReadStandardInput(const char* prompt, bool confirm, std::string& error);
    std::optional<std::string> ReadTerminal(const char* prompt);

    std::FILE* m_in;
    std::FILE* m_prompts;
    bool m_interrupted = false;
};

}  // namespace cli
