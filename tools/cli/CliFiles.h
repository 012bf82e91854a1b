// The files kelvane-cli reads and writes for the user: the working files' folder and the
// files named on the command line, checked before the link is opened.
#pragma once

#include <cstdint>
#include <string>

namespace cli {

// Operations that only read (--version, history) name the folder without creating it.
enum class FolderUse { ReadOnly, Work };

// The working files' folder: beside the program, or the user's own for an installed one;
// empty when there is none or it is refused (said on stderr): nothing is saved then.
std::string ProgramFolder(FolderUse use = FolderUse::Work);

// Why a file the user named to be read cannot be sent; empty when it can (size set).
std::string InputFileProblem(const std::string& path, std::uint64_t& size);

// Why an output file cannot be written where the user named it; empty when it can.
std::string OutputFileProblem(const std::string& path);

// Writes a file for its owner only, never through a link.
bool WriteBytes(const std::string& path, const std::uint8_t* data, std::size_t size);

}  // namespace cli
