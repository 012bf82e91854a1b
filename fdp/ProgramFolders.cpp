#include "fdp/ProgramFolders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

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

FolderEnvironment FolderEnvironment::FromProcess() { return {Variable("XDG_CONFIG_HOME"), Variable("HOME")}; }

fs::path ExecutableFolder() {
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path(".") : exe.parent_path();
}

fs::path PersonalFolder(const FolderEnvironment& environment) {
    if (environment.xdgConfigHome && fs::path(*environment.xdgConfigHome).is_absolute())
        return fs::path(*environment.xdgConfigHome) / "kelvane";
    std::string home = environment.home.value_or("");
    if (home.empty()) {
        // A session without HOME (a service, sudo -i variants): the account's own.
        if (const passwd* account = ::getpwuid(::getuid()); account && account->pw_dir) home = account->pw_dir;
    }
    return fs::path(home.empty() ? "/tmp" : home) / ".config" / "kelvane";
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

bool PrepareWorkFolder(const ProgramFolders& folders, std::string& error) {
    if (!folders.personal) return true;
    std::error_code code;
    if (!fs::is_directory(folders.work, code)) {
        fs::create_directories(folders.work.parent_path(), code);
        if (::mkdir(folders.work.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "Cannot create " + folders.work.string() + ": " + std::strerror(errno);
            return false;
        }
    }
    const fs::path param = folders.work / "param.jdp";
    const fs::path source = folders.install / "param.jdp";
    if (!Exists(param) && Exists(source)) {
        if (!fs::copy_file(source, param, fs::copy_options::skip_existing, code) && code) {
            error = "Cannot copy " + source.string() + " to " + folders.work.string() + ": " + code.message();
            return false;
        }
        fs::permissions(param, fs::perms::owner_read | fs::perms::owner_write, code);
    }
    return true;
}

}  // namespace fdp
