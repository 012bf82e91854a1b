// The files kelvane-cli reads and writes for the user: the working files' folder and the
// files named on the command line, checked before the link is opened.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace cli {

// Operations that only read (--version, history) name the folder without creating it.
enum class FolderUse { ReadOnly, Work };

// The working files' folder: beside the program, or the user's own for an installed one;
// empty when there is none or it is refused (said on stderr): nothing is saved then.
std::string ProgramFolder(FolderUse use = FolderUse::Work);

// Why a file the user named to be read cannot be sent; empty when it can (size set).
std::string InputFileProblem(const std::string& path, std::uint64_t& size);

// Why the folder named with --folder may not hold the working files, as a message naming
// it; empty when it may. It gets the per-user folder's checks (the user's own, writable
// by nobody else): the run then does nothing and ends with ExitFiles.
std::string NamedFolderProblem(const std::string& folder);

// Why an output file (params OUT, trace OUT) cannot be written where the user named it,
// as a message naming it; empty when it can. Its folder must exist, and an existing OUT
// must be a regular file of the user's own: another user's file is neither written into
// nor replaced, a symbolic link not followed.
std::string OutputFileProblem(const std::string& path);

// Writes an output file for its owner only: a new 0600 file in its folder, renamed over
// path once complete. Checks path again first, since it may have appeared while the
// target answered. Empty on success, else the message; refused is set when the check
// refused it (nothing was written) rather than the write failing.
// Writes every byte to fd, going on after a short write or a signal; false when it
// cannot.
bool WriteAll(int fd, std::string_view bytes);

std::string WriteOutputFile(const std::string& path, std::span<const std::uint8_t> bytes, bool& refused);

}  // namespace cli
