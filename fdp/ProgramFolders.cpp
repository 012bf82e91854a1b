#include "fdp/ProgramFolders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "fdp/PrivateFile.h"
#include "resources/strings/StringIds.h"
#include "resources/strings/StringTable.h"

namespace fdp {
namespace fs = std::filesystem;

namespace {

std::optional<std::string> Variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

bool Exists(const fs::path& path) {
    std::error_code error;
    return fs::exists(path, error);
}

bool Writable(const fs::path& folder) { return ::access(folder.c_str(), W_OK) == 0; }

}  // namespace

FolderEnvironment FolderEnvironment::FromProcess() {
    std::optional<std::string> account;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) account = entry->pw_dir;
    return {Variable("XDG_CONFIG_HOME"), Variable("HOME"), account};
}

fs::path ExecutableFolder() {
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path(".") : exe.parent_path();
}

fs::path PersonalFolder(const FolderEnvironment& environment) {
    if (environment.xdgConfigHome && fs::path(*environment.xdgConfigHome).is_absolute())
        return fs::path(*environment.xdgConfigHome) / "kelvane";
    // A session without HOME (a service, sudo -i variants): the account's own.
    for (const auto& home : {environment.home, environment.accountHome})
        if (home && fs::path(*home).is_absolute()) return fs::path(*home) / ".config" / "kelvane";
    return {};
}

ProgramFolders ResolveProgramFolders(const fs::path& exeFolder, const FolderEnvironment& environment) {
    ProgramFolders folders;
    const fs::path shared = (exeFolder.parent_path() / "share" / "kelvane").lexically_normal();
    // default.jdp beside the binary marks a program folder; an installed binary has it
    // in share/kelvane. Root may write /usr/bin but must not litter it all the same.
    const bool ownFolder = Exists(exeFolder / "default.jdp") || !Exists(shared / "default.jdp");
    folders.install = ownFolder ? exeFolder : shared;
    if (ownFolder && Writable(exeFolder)) {
        folders.work = exeFolder;
    } else {
        folders.work = PersonalFolder(environment);
        folders.personal = true;
    }
    return folders;
}

WorkFolderCheck CheckWorkFolder(const fs::path& folder, bool mustOwn, int& error) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) {
        error = errno;
        return WorkFolderCheck::Unusable;
    }
    if (!S_ISDIR(info.st_mode)) {
        error = ENOTDIR;
        return WorkFolderCheck::Unusable;
    }
    if (mustOwn && info.st_uid != ::geteuid()) return WorkFolderCheck::NotOwn;
    // Also with the sticky bit: others may then add files, which the program would take
    // for its own.
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) return WorkFolderCheck::Shared;
    return WorkFolderCheck::Usable;
}

bool PrepareWorkFolder(const ProgramFolders& folders, std::string& error) {
    if (folders.work.empty()) {
        error = res::LoadString(res::IDS_NO_WORK_FOLDER);
        return false;
    }
    struct stat info {};
    if (folders.personal && ::stat(folders.work.c_str(), &info) != 0) {
        std::error_code code;
        fs::create_directories(folders.work.parent_path(), code);
        if (::mkdir(folders.work.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "Cannot create " + folders.work.string() + ": " + std::strerror(errno);
            return false;
        }
    }
    // The program folder may be root's, shared by the machine's users (a portable copy);
    // the per-user folder must be the user's own.
    int why = 0;
    switch (CheckWorkFolder(folders.work, folders.personal, why)) {
    case WorkFolderCheck::Usable: break;
    case WorkFolderCheck::Unusable:
        error = "Cannot create " + folders.work.string() + ": " + std::strerror(why);
        return false;
    case WorkFolderCheck::NotOwn:
        error = res::FormatString(res::IDS_WORK_FOLDER_NOT_OWN, {folders.work.string()});
        return false;
    case WorkFolderCheck::Shared:
        error = res::FormatString(res::IDS_WORK_FOLDER_SHARED, {folders.work.string()});
        return false;
    }
    if (!folders.personal) return true;

    const fs::path param = folders.work / "param.jdp";
    const fs::path source = folders.install / "param.jdp";
    if (!Exists(param) && Exists(source)) {
        std::ifstream in(source, std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        // Created 0600 and exclusively: a file that appeared meanwhile is the user's.
        CPrivateFile copy = CPrivateFile::Open(param, CPrivateFile::Mode::CreateNew);
        if (!in.good() && !in.eof()) {
            error = "Cannot read " + source.string();
        } else if (copy.IsOpen() && copy.WriteAll(bytes) && copy.Close()) {
            return true;
        } else if (copy.ErrorNumber() == EEXIST) {
            return true;
        } else {
            error = "Cannot copy " + source.string() + " to " + folders.work.string() + ": " + copy.Error();
        }
        if (copy.ErrorNumber() != EEXIST) ::unlink(param.c_str());
        return false;
    }
    return true;
}

}  // namespace fdp
