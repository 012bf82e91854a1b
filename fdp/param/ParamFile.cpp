#include "fdp/param/ParamFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "fdp/DebugTrace.h"

namespace param {
namespace {

// Holds an open, exclusively locked descriptor; closing drops the lock.
class LockedFile {
public:
    LockedFile(const std::filesystem::path& path, int flags) {
        // Non-blocking so that a FIFO in the file's place cannot hang the open.
        fd_ = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK);
        // Only another holder of the lock means the file is in use. A file system that
        // cannot lock (ENOLCK, EOPNOTSUPP, or NFS refusing a read-only descriptor with
        // EBADF) leaves the file usable, without the lock.
        if (fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) Close();
    }
    ~LockedFile() { Close(); }
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;

    int fd() const { return fd_; }
    bool Close() {
        if (fd_ < 0) return true;
        const bool ok = ::close(fd_) == 0;
        fd_ = -1;
        return ok;
    }

private:
    int fd_ = -1;
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
    LockedFile file(path, O_WRONLY);
    if (file.fd() < 0) return false;
    // The working block holds the target's login password once it has been changed:
    // readable by its owner only, before the bytes go in. (A file of another owner
    // keeps its mode; the write decides.)
    ::fchmod(file.fd(), S_IRUSR | S_IWUSR);
    std::size_t done = 0;
    while (done < block.size()) {
        const ssize_t n = ::pwrite(file.fd(), block.data() + done, block.size() - done,
                                   static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            TraceFileError();
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(file.fd()) != 0 || !file.Close()) {
        TraceFileError();
        return false;
    }
    return true;
}

}  // namespace param
