#include "tools/cli/CliFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fdp/PrivateFile.h"
#include "fdp/ProgramFolders.h"
#include "resources/strings/StringIds.h"
#include "resources/strings/StringTable.h"

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

std::string NamedFolderProblem(const std::string& folder) {
    int why = 0;
    switch (fdp::CheckWorkFolder(folder, true, why)) {
    case fdp::WorkFolderCheck::Usable: return {};
    case fdp::WorkFolderCheck::Unusable: return "Cannot use the folder " + folder + ": " + std::strerror(why);
    case fdp::WorkFolderCheck::NotOwn: return res::FormatString(res::IDS_NAMED_FOLDER_NOT_OWN, {folder});
    case fdp::WorkFolderCheck::Shared: return res::FormatString(res::IDS_NAMED_FOLDER_SHARED, {folder});
    }
    return {};
}

std::string OutputFileProblem(const std::string& path) {
    const auto cannot = [&path](const std::string& why) { return "Cannot write " + path + ": " + why; };
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return cannot(std::strerror(EISDIR));
        if (S_ISLNK(info.st_mode)) return cannot("it is a symbolic link");
        if (!S_ISREG(info.st_mode)) return cannot("it is no regular file");
        if (info.st_uid != ::geteuid()) return res::FormatString(res::IDS_OUTPUT_NOT_OWN, {path});
        return {};
    }
    const auto slash = path.find_last_of('/');
    const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (::stat(parent.c_str(), &info) != 0) return cannot(std::strerror(errno));
    return S_ISDIR(info.st_mode) ? std::string() : cannot(std::strerror(ENOTDIR));
}

// A parameter dump holds the login password, a trace may hold a dump: the OUT file is
// made as the working files are rewritten, and the bytes never go into a file that was
// there before (another user's, or one a reader holds open).
std::string WriteOutputFile(const std::string& path, std::span<const std::uint8_t> bytes, bool& refused) {
    std::string error = OutputFileProblem(path);
    refused = !error.empty();
    if (!refused) fdp::CPrivateFile::Rewrite(path, bytes, error);
    return error;
}

bool WriteAll(int fd, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace cli
