#include "tools/cli/SecretInput.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace cli {

std::optional<std::string> CSecretInput::ReadLine(std::FILE* in) {
    std::string line;
    int c = 0;
    while ((c = std::fgetc(in)) != EOF && c != '\n') line.push_back(static_cast<char>(c));
    if (c == EOF && line.empty()) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

std::optional<std::string> CSecretInput::Resolve(const std::optional<std::string>& value,
                                                 const std::optional<std::string>& file, const char* variable,
                                                 const std::optional<std::string>& fallback, std::string& error) {
    if (value && file) {
        error = "give the password either on the command line or in a file, not both";
        return std::nullopt;
    }
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
    if (value && *value == "-") {
        std::optional<std::string> line = m_in ? ReadLine(m_in) : std::nullopt;
        if (!line) error = "no password on standard input";
        return line;
    }
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
