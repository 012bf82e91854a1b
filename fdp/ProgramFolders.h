// Where the program's files live. A program run from a folder it may write (the build
// folder, a portable copy with default.jdp beside it) keeps everything there, as it
// always has. An installed program (its parameter files in <prefix>/share/kelvane, its
// binary in a folder the user may not write) keeps its working files (kelvane.ini,
// param.jdp, trace.txt, Target_Bt_Addr.txt, history.jsonl) in the user's own
// $XDG_CONFIG_HOME/kelvane and reads default.jdp from the installation.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace fdp {

struct ProgramFolders {
    std::filesystem::path work;      // the working files, read and written; empty: none, nothing is saved
    std::filesystem::path install;   // default.jdp and the param.jdp a first run starts from
    bool personal = false;           // work is the per-user folder, not the program's own

    std::filesystem::path DefaultFile() const { return install / "default.jdp"; }
};

// The values of the environment that choose the per-user folder.
struct FolderEnvironment {
    std::optional<std::string> xdgConfigHome;
    std::optional<std::string> home;
    std::optional<std::string> accountHome;   // the home folder of the user's passwd entry

    static FolderEnvironment FromProcess();
};

// The folder of the running executable; "." when it cannot be read.
std::filesystem::path ExecutableFolder();

// The per-user folder: $XDG_CONFIG_HOME/kelvane, or ~/.config/kelvane when the variable
// is unset, empty or relative (a relative value is no valid XDG base directory), with
// ~ from HOME or else from the passwd entry. Empty when none of them names a folder:
// never a folder shared by all users such as /tmp.
std::filesystem::path PersonalFolder(const FolderEnvironment& environment);

// Chooses the folders for an executable in exeFolder.
ProgramFolders ResolveProgramFolders(const std::filesystem::path& exeFolder, const FolderEnvironment& environment);

// Whether a folder may hold the working files. They hold the target's login password,
// so no user but its own may write to it (they could swap the files under the program),
// and a folder that is a user's own (the per-user folder, one named with kelvane-cli's
// --folder) must belong to the user. error is the errno when the folder cannot be used
// at all.
enum class WorkFolderCheck { Usable, Unusable, NotOwn, Shared };
WorkFolderCheck CheckWorkFolder(const std::filesystem::path& folder, bool mustOwn, int& error);

// Makes a per-user work folder usable: creates it with mode 0700 (it will hold the
// password) and, on the first run, copies param.jdp from the installation, readable by
// the owner only from its creation. An existing param.jdp is never overwritten. An
// existing per-user folder must belong to the user, and no working folder may be
// writable by others (they could swap the files under the program). Returns false
// with a message naming the folder when there is none, it is refused, or it cannot be
// made; the program then works without saving.
bool PrepareWorkFolder(const ProgramFolders& folders, std::string& error);

}  // namespace fdp
