#include "tools/cli/CliFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fdp/PrivateFile.h"
#include "fdp/ProgramFolders.h"

namespace cli {

std::string ProgramFolder(FolderUse use) {
    const fdp::ProgramFolders folders =
        fdp::ResolveProgramFolders(fdp::ExecutableFolder(), fdp::FolderEnvironment::FromProcess());
    std::string error;
    if (use == FolderUse::Work && !fdp::PrepareWorkFolder(folders, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return {};
    }
    return folders.work.string();
}

// Only a regular file that opens for reading will do (a directory, FIFO or device would
// fail or hang the download), and this is found before the link is opened, so nothing
// is sent.
std::string InputFileProblem(const std::string& path, std::uint64_t& size) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::strerror(errno);
    if (S_ISDIR(info.st_mode)) return std::strerror(EISDIR);
    if (!S_ISREG(info.st_mode)) return "not a regular file";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::strerror(errno);
    ::close(fd);
    size = static_cast<std::uint64_t>(info.st_size);
    return {};
}

std::string OutputFileProblem(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) return S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : std::string();
    const auto slash = path.find_last_of('/');
    const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (::stat(parent.c_str(), &info) != 0) return std::strerror(errno);
    return S_ISDIR(info.st_mode) ? std::string() : std::strerror(ENOTDIR);
}

// A parameter dump holds the login password, a trace may hold a dump: the OUT file is
// made as the working files are.
bool WriteBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
    fdp::CPrivateFile out = fdp::CPrivateFile::Open(path, fdp::CPrivateFile::Mode::Truncate);
    return out.IsOpen() && out.WriteAll({data, size}) && out.Close();
}

}  // namespace cli
