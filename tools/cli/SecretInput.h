// Where kelvane-cli takes a password from. A password on the command line is visible to
// every user of the machine in the process list, so the tool also reads it from a file
// (--password-file FILE), from standard input (the value "-") or from an environment
// variable, which only the same user can read.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace cli {

class CSecretInput {
public:
    // Lines of "-" values are read from in, one per password, in the order asked.
    explicit CSecretInput(std::FILE* in = stdin) : m_in(in) {}

    // The password given by value ("-": the next line of standard input), by file (its
    // first line) or by the environment variable, in that order; fallback when none is
    // given. Nothing, with the reason in error, when both value and file are given or
    // the source cannot be read. A trailing line end is not part of the password.
    std::optional<std::string> Resolve(const std::optional<std::string>& value, const std::optional<std::string>& file,
                                       const char* variable, const std::optional<std::string>& fallback,
                                       std::string& error);

    // A warning for a password file that other users may read, or empty.
    static std::string ExposureWarning(const std::string& file);

private:
    std::optional<std::string> ReadLine(std::FILE* in);

    std::FILE* m_in;
};

}  // namespace cli
