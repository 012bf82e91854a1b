#include "tools/cli/ParamDraft.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "tools/cli/CliFiles.h"

namespace cli {

namespace {

// Larger than any parameter file the program writes; a bigger one is not read whole.
constexpr off_t kMaxWorkingFile = 1 << 20;

std::string Reason(const char* action, const std::filesystem::path& path, int error) {
    return std::string("Cannot ") + action + " " + path.string() + ": " + std::strerror(error);
}

}  // namespace

CParamDraft::~CParamDraft() {
    if (!m_draft.empty()) ::unlink(m_draft.c_str());
}

bool CParamDraft::Create(const std::filesystem::path& folder, std::string& error) {
    m_working = folder / "param.jdp";
    // Non-blocking so that a FIFO in the file's place cannot hang the open; never through a link.
    const int in = ::open(m_working.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (in < 0) {
        error = Reason("read", m_working, errno);
        return false;
    }
    struct stat info {};
    if (::fstat(in, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxWorkingFile) {
        ::close(in);
        error = "Cannot read " + m_working.string() + ": not a parameter file";
        return false;
    }
    std::vector<char> bytes;
    char chunk[8192];
    for (;;) {
        const ssize_t n = ::read(in, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = Reason("read", m_working, errno);
            ::close(in);
            return false;
        }
        if (n == 0 || bytes.size() > static_cast<std::size_t>(kMaxWorkingFile)) break;
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    ::close(in);

    std::string name = (folder / "param.jdp.XXXXXX").string();
    const int out = ::mkostemp(name.data(), O_CLOEXEC);   // created exclusively, mode 0600
    if (out < 0) {
        error = Reason("create a file in", folder, errno);
        return false;
    }
    m_draft = name;
    if (!WriteAll(out, {bytes.data(), bytes.size()}) || ::fsync(out) != 0) {
        error = Reason("write", m_draft, errno);
        ::close(out);
        return false;   // removed with the object
    }
    if (::close(out) != 0) {
        error = Reason("write", m_draft, errno);
        return false;
    }
    return true;
}

bool CParamDraft::Commit(std::string& error) {
    if (m_draft.empty() || ::rename(m_draft.c_str(), m_working.c_str()) != 0) {
        error = Reason("replace", m_working, m_draft.empty() ? ENOENT : errno);
        return false;
    }
    m_draft.clear();
    // The rename itself reaches the disk with its folder.
    const int dir = ::open(m_working.parent_path().empty() ? "." : m_working.parent_path().c_str(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

}  // namespace cli
