#include "fdp/param/ParamFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "fdp/DebugTrace.h"
#include "fdp/PrivateFile.h"

namespace param {
namespace {

// Holds an open, exclusively locked descriptor; closing drops the lock.
class LockedFile {
public:
    LockedFile(const std::filesystem::path& path, int flags) {
        // Non-blocking so that a FIFO in the file's place cannot hang the open.
        m_fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK);
        // Only another holder of the lock means the file is in use. A file system that
        // cannot lock (ENOLCK, EOPNOTSUPP, or NFS refusing a read-only descriptor with
        // EBADF) leaves the file usable, without the lock.
        if (m_fd >= 0 && ::flock(m_fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) Close();
    }
    ~LockedFile() { Close(); }
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;

    int fd() const { return m_fd; }
    bool Close() {
        if (m_fd < 0) return true;
        const bool ok = ::close(m_fd) == 0;
        m_fd = -1;
        return ok;
    }

private:
    int m_fd = -1;
};

// The diagnostic line for a file that vanished while it was being read or written.
void TraceFileError() {
    if (errno == ENOENT) fdp::DebugTrace("File not found\n");
}

}  // namespace

std::optional<std::size_t> ReadParamFile(const std::filesystem::path& path,
                                         std::span<std::uint8_t, kBlockSize> buffer) {
    LockedFile file(path, O_RDONLY);
    if (file.fd() < 0) return std::nullopt;
    std::size_t got = 0;
    while (got < buffer.size()) {
        const ssize_t n = ::pread(file.fd(), buffer.data() + got, buffer.size() - got,
                                  static_cast<off_t>(got));
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            TraceFileError();
            return std::nullopt;
        }
        got += static_cast<std::size_t>(n);
    }
    return got;
}

bool WriteParamFile(const std::filesystem::path& path, std::span<const std::uint8_t, kBlockSize> block) {
    // Opened for writing (and locked) although the bytes go into a new file: a missing,
    // read-only or busy file is refused as before, and its tail is read from here. A
    // symbolic link in its place is refused, never followed.
    LockedFile file(path, O_RDWR | O_NOFOLLOW);
    if (file.fd() < 0) return false;
    struct stat info {};
    if (::fstat(file.fd(), &info) != 0 || !S_ISREG(info.st_mode)) return false;

    // The block replaces the first 8192 bytes; whatever the file holds past them stays.
    std::vector<std::uint8_t> bytes(block.begin(), block.end());
    for (off_t at = static_cast<off_t>(kBlockSize);;) {
        std::uint8_t chunk[4096];
        const ssize_t n = ::pread(file.fd(), chunk, sizeof chunk, at);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            TraceFileError();
            return false;
        }
        bytes.insert(bytes.end(), chunk, chunk + n);
        at += n;
    }
    // The working block holds the target's login password once it has been changed: a
    // new file of mode 0600 renamed over the old one, so a reader of the old file
    // never sees the new password and a crash never leaves half a block.
    std::string error;
    if (!fdp::CPrivateFile::Rewrite(path, bytes, error)) {
        fdp::DebugTrace("%s\n", error.c_str());
        return false;
    }
    return true;
}

}  // namespace param
