#include "tools/cli/FirmwareCheck.h"
#include "tools/cli/Say.h"

#include <cstdio>
#include <filesystem>

#include "resources/strings/StringTable.h"

namespace cli {

namespace {

constexpr int ExitFiles = 3;

std::string PlainLines(std::string text) {
    for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, "\n");
    return text;
}

// Said with the downgrade question when the target did not give its version.
std::string UnreadVersionText() { return res::Text("Note: the target's version could not be read."); }

bool Overridable(unsigned result) {
    return result == fdp::FileCheckBootSize || result == fdp::FileCheckProgramSize || result == fdp::FileCheckSignature;
}

}  // namespace

std::string FileCheckMessage(unsigned result) { return PlainLines(res::LoadString(fdp::FileCheckTextId(result))); }

std::optional<int> RefuseFirmwareFile(fdp::FirmwareKind kind, const std::string& path, bool force) {
    const unsigned result = fdp::CheckFirmwareFile(kind, path, fdp::CheckAll);
    if (result == fdp::FileCheckOk) return std::nullopt;
    Complain("%s\n", FileCheckMessage(result).c_str());
    if (!Overridable(result)) return ExitFiles;
    if (!force) {
        Complain("kelvane-cli: refused; --force sends it all the same\n");
        return ExitRefused;
    }
    Complain("kelvane-cli: --force: sending it all the same\n");
    return std::nullopt;
}

std::optional<int> RefuseFirmwareVersion(fdp::FirmwareKind kind, const std::string& path,
                                         const std::optional<fdp::FirmwareVersion>& target, bool force) {
    fdp::FirmwareVersion file;
    if (fdp::ReadFileVersion(kind, path, 0, file) != fdp::FileCheckOk) return ExitFiles;
    Say("file version: %s, target version: %s\n", file.Text().c_str(),
                target ? target->Text().c_str() : "not read");
    if (!fdp::FirmwareNeedsConfirmation(kind, file, target)) return std::nullopt;
    Complain("%s\n", PlainLines(res::LoadString(kind == fdp::FirmwareBoot ? 105 : 104)).c_str());
    if (!target) Complain("%s\n", UnreadVersionText().c_str());
    if (!force) {
        Complain("kelvane-cli: refused; --force sends it all the same\n");
        return ExitRefused;
    }
    Complain("kelvane-cli: --force: sending it all the same\n");
    return std::nullopt;
}

int RunFileCheck(const std::string& path) {
    const unsigned opened = fdp::CheckFirmwareFile(fdp::FirmwareProgram, path, 0);
    if (opened != fdp::FileCheckOk) {
        Complain("%s\n", FileCheckMessage(opened).c_str());
        return ExitFiles;
    }
    std::error_code error;
    const std::uint64_t size = std::filesystem::file_size(path, error);
    const bool boot = fdp::kBootSizeWindow.Holds(size), program = fdp::kProgramSizeWindow.Holds(size);
    Say("kind: %s (%llu bytes)\n", boot && program ? "boot or program" : boot ? "boot" : program ? "program" : "none",
                static_cast<unsigned long long>(size));
    if (!boot && !program) {
        Say("  boot firmware has %llu to %llu bytes, program firmware %llu to %llu\n",
                    static_cast<unsigned long long>(fdp::kBootSizeWindow.min),
                    static_cast<unsigned long long>(fdp::kBootSizeWindow.max),
                    static_cast<unsigned long long>(fdp::kProgramSizeWindow.min),
                    static_cast<unsigned long long>(fdp::kProgramSizeWindow.max));
    }
    const bool signature = fdp::CheckFirmwareFile(fdp::FirmwareProgram, path, fdp::CheckSignature) == fdp::FileCheckOk;
    Say("signature: %s\n", signature ? "ok" : "mismatch");
    fdp::FirmwareVersion version;
    if (fdp::ReadFileVersion(fdp::FirmwareProgram, path, 0, version) == fdp::FileCheckOk)
        Say("version: %s\n", version.Text().c_str());
    if (!signature) Complain("%s\n", FileCheckMessage(fdp::FileCheckSignature).c_str());
    return (boot || program) && signature ? 0 : ExitRefused;
}

}  // namespace cli
