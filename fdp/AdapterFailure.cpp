#include "fdp/AdapterFailure.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "resources/strings/StringIds.h"
#include "resources/strings/StringTable.h"

namespace fdp {

namespace {

std::string ProgramPath() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "<program>";
    path[n] = '\0';
    return path;
}

// The remedy for a missing CAP_NET_RAW fits how the program is installed: the package
// grants it to a group, a build tree or portable copy is given it by setcap.
unsigned PrivilegeRemedyId(const std::string& programPath) {
    return programPath.starts_with("/usr/") ? res::IDS_NO_RAW_PRIVILEGE_INSTALLED : res::IDS_NO_RAW_PRIVILEGE;
}

}  // namespace

void CAdapterFailure::Set(unsigned textId, std::vector<std::string> words) {
    m_textId = textId;
    m_words = std::move(words);
}

void CAdapterFailure::SetNoSocket(const std::string& adapter, int error) {
    if (error == EPERM || error == EACCES) {
        const std::string program = ProgramPath();
        Set(PrivilegeRemedyId(program), {adapter, program});
    } else {
        Set(res::IDS_CANNOT_OPEN_INTERFACE, {adapter, std::strerror(error)});
    }
}

std::string CAdapterFailure::Text() const {
    return m_textId ? res::FormatString(m_textId, m_words) : std::string();
}

}  // namespace fdp
