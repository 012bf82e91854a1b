#include "fdp/PrivateFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace fdp {
namespace {

constexpr mode_t kPrivateMode = S_IRUSR | S_IWUSR;

int OpenFlags(CPrivateFile::Mode mode) {
    // Non-blocking so that a FIFO in the file's place cannot hang the open; it is
    // refused right after.
    const int common = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    switch (mode) {
    // Cut to length 0 by Open once the file is found to be the user's: O_TRUNC would cut
    // another user's file before it could be refused.
    case CPrivateFile::Mode::Truncate: return common | O_RDWR | O_CREAT;
    case CPrivateFile::Mode::Append: return common | O_RDWR | O_CREAT | O_APPEND;
    case CPrivateFile::Mode::CreateNew: return common | O_WRONLY | O_CREAT | O_EXCL;
    case CPrivateFile::Mode::ReadOnly: break;
    }
    return common | O_RDONLY;
}

}  // namespace

CPrivateFile::~CPrivateFile() { Discard(); }

CPrivateFile::CPrivateFile(CPrivateFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)),
      m_target(std::move(other.m_target)),
      m_temporary(std::exchange(other.m_temporary, {})),
      m_error(std::move(other.m_error)),
      m_errno(other.m_errno) {}

CPrivateFile& CPrivateFile::operator=(CPrivateFile&& other) noexcept {
    if (this != &other) {
        Discard();
        m_fd = std::exchange(other.m_fd, -1);
        m_target = std::move(other.m_target);
        m_temporary = std::exchange(other.m_temporary, {});
        m_error = std::move(other.m_error);
        m_errno = other.m_errno;
    }
    return *this;
}

void CPrivateFile::Fail(const char* action, const std::filesystem::path& path, int error) {
    m_errno = error;
    // O_NOFOLLOW says ELOOP, whose own words ("Too many levels of symbolic links")
    // would puzzle the reader.
    const std::string reason = error == ELOOP ? "it is a symbolic link" : std::strerror(error);
    m_error = std::string("Cannot ") + action + " " + path.string() + ": " + reason;
}

void CPrivateFile::Discard() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    if (!m_temporary.empty()) ::unlink(m_temporary.c_str());
    m_temporary.clear();
}

CPrivateFile CPrivateFile::Open(const std::filesystem::path& path, Mode mode) {
    CPrivateFile file;
    file.m_target = path;
    const int fd = ::open(path.c_str(), OpenFlags(mode), kPrivateMode);
    if (fd < 0) {
        file.Fail("open", path, errno);
        return file;
    }
    file.m_fd = fd;
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        file.Fail("open", path, errno);
        file.Discard();
        return file;
    }
    if (!S_ISREG(info.st_mode)) {
        file.Fail("open", path, S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
        file.m_error = "Cannot open " + path.string() + ": it is no regular file";
        file.Discard();
        return file;
    }
    // Another user's file is never written: it stays readable by that user whatever its
    // mode (and only its owner may narrow it).
    if (mode != Mode::ReadOnly && info.st_uid != ::geteuid()) {
        file.Fail("open", path, EPERM);
        file.m_error = "Cannot open " + path.string() + ": it belongs to another user";
        file.Discard();
        return file;
    }
    // A file an older version left readable by others is narrowed before it is used.
    if (mode != Mode::ReadOnly && (info.st_mode & 077) != 0) ::fchmod(fd, kPrivateMode);
    if (mode == Mode::Truncate && info.st_size != 0 && ::ftruncate(fd, 0) != 0) {
        file.Fail("write", path, errno);
        file.Discard();
        return file;
    }
    // Writes block as usual from here on.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return file;
}

CPrivateFile CPrivateFile::Replace(const std::filesystem::path& path) {
    CPrivateFile file;
    file.m_target = path;
    // Hidden, in the same folder so that the rename stays on one file system.
    std::string pattern = (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
    // mkostemp creates the file 0600, exclusively.
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        file.Fail("create a new file beside", path, errno);
        return file;
    }
    file.m_fd = fd;
    file.m_temporary = pattern;
    return file;
}

bool CPrivateFile::Commit() {
    if (m_fd < 0 || m_temporary.empty()) {
        if (m_error.empty()) Fail("write", m_target, EBADF);
        return false;
    }
    if (::fsync(m_fd) != 0) {
        Fail("write", m_target, errno);
        Discard();
        return false;
    }
    const int fd = std::exchange(m_fd, -1);
    if (::close(fd) != 0) {
        Fail("write", m_target, errno);
        Discard();
        return false;
    }
    if (::rename(m_temporary.c_str(), m_target.c_str()) != 0) {
        Fail("replace", m_target, errno);
        Discard();
        return false;
    }
    m_temporary.clear();
    // The rename itself reaches the disk with the folder.
    std::filesystem::path folder = m_target.parent_path();
    if (folder.empty()) folder = ".";
    if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

bool CPrivateFile::Rewrite(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                           std::string& error) {
    CPrivateFile file = Replace(path);
    if (!file.IsOpen() || !file.WriteAll(bytes) || !file.Commit()) {
        error = file.Error();
        return false;
    }
    return true;
}

int CPrivateFile::Release() {
    // A Replace's new file must be committed through this object.
    if (!m_temporary.empty()) return -1;
    return std::exchange(m_fd, -1);
}

bool CPrivateFile::WriteAll(std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            Fail("write", m_target, n < 0 ? errno : EIO);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool CPrivateFile::Close() {
    if (m_fd < 0) return true;
    const bool ok = ::close(std::exchange(m_fd, -1)) == 0;
    if (!ok) Fail("write", m_target, errno);
    return ok;
}

}  // namespace fdp
