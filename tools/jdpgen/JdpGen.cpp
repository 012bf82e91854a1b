// Writes the built-in parameter block, so that the program finds default.jdp and
// param.jdp beside itself. Run by the build.
//
//   jdpgen FILE...               writes each FILE (default.jdp, always current)
//   jdpgen --if-missing FILE...  creates each FILE only where none exists (param.jdp,
//                                the working file: what the pages saved in it stays)
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "fdp/param/StandardBlock.h"

namespace {

// Writes the block to path; with exclusive set an existing file is left alone and
// counts as done.
bool WriteBlock(const char* path, const param::ParamBlock& block, bool exclusive) {
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (exclusive ? O_EXCL : O_TRUNC);
    const int fd = ::open(path, flags, 0644);
    if (fd < 0) {
        if (exclusive && errno == EEXIST) return true;
        std::fprintf(stderr, "jdpgen: cannot write %s: %s\n", path, std::strerror(errno));
        return false;
    }
    std::size_t done = 0;
    while (done < block.bytes.size()) {
        const ssize_t n = ::write(fd, block.bytes.data() + done, block.bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    const bool ok = done == block.bytes.size() && ::close(fd) == 0;
    if (!ok) {
        std::fprintf(stderr, "jdpgen: cannot write %s: %s\n", path, std::strerror(errno));
        // A half-written working file would otherwise be kept by every later run.
        ::unlink(path);
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    int first = 1;
    const bool ifMissing = argc > 1 && std::string(argv[1]) == "--if-missing";
    if (ifMissing) ++first;
    if (first >= argc) {
        std::fprintf(stderr, "usage: %s [--if-missing] FILE...\n", argv[0]);
        return 2;
    }
    const param::ParamBlock block = param::MakeStandardBlock();
    for (int i = first; i < argc; ++i)
        if (!WriteBlock(argv[i], block, ifMissing)) return 1;
    return 0;
}
