#include "archive/SettingsFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

namespace archive {
namespace {

// The file holds passwords in clear.
constexpr mode_t kSettingsMode = S_IRUSR | S_IWUSR;

void Report(const SettingsUi& ui, const std::string& description) {
    if (ui.reportError) ui.reportError(description);
}

std::string FileErrorText(const char* action, const std::filesystem::path& path, int error) {
    return std::string("Error ") + action + " " + path.string() + ": " + std::strerror(error) + ".";
}

std::string ArchiveErrorText(const char* action, const std::string& source, const ArchiveException& e) {
    if (e.cause() == ArchiveException::Cause::EndOfFile)
        return source + " is damaged: it ends in the middle of a record.";
    return std::string("Error ") + action + " " + source + ": " + e.what() + ".";
}

// Closes the descriptor when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { Close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    // 0, or the errno of a failed close.
    int Close() {
        if (fd_ < 0) return 0;
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0 ? 0 : errno;
    }

private:
    int fd_;
};

}  // namespace

std::size_t LoadRecords(CArchive& ar, std::span<SettingsRecord* const> records, const SettingsUi& ui,
                        const std::string& source) {
    std::size_t done = 0;
    try {
        for (SettingsRecord* record : records) {
            record->Load(ar);
            ++done;
        }
    } catch (const ArchiveException& e) {
        Report(ui, ArchiveErrorText("reading", source, e));
    } catch (const std::bad_alloc&) {
        Report(ui, "Not enough memory to read " + source + ".");
    }
    return done;
}

void LoadSettings(const std::filesystem::path& settingsPath, std::span<SettingsRecord* const> records,
                  const SettingsUi& ui) {
    // Non-blocking so that a FIFO in the file's place cannot hang the start.
    FileDescriptor file(::open(settingsPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) return;
    struct stat st {};
    // An empty file counts as missing; so does anything but a regular file.
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) return;
    CArchive ar(file.get(), CArchive::Mode::Load);
    LoadRecords(ar, records, ui, settingsPath.string());
}

void SaveSettings(const std::filesystem::path& settingsPath, const std::filesystem::path& backupPath,
                  std::span<SettingsRecord* const> records, const SettingsUi& ui) {
    if (::unlink(backupPath.c_str()) != 0 && errno != ENOENT)
        Report(ui, FileErrorText("deleting", backupPath, errno));
    if (::rename(settingsPath.c_str(), backupPath.c_str()) != 0 && errno != ENOENT)
        Report(ui, FileErrorText("renaming", settingsPath, errno));

    int fd = -1;
    for (;;) {
        fd = ::open(settingsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, kSettingsMode);
        if (fd >= 0) break;
        if (!ui.askRetry || !ui.askRetry()) return;
    }
    FileDescriptor file(fd);
    // A file left behind by a failed rename keeps its mode through O_TRUNC.
    ::fchmod(file.get(), kSettingsMode);

    const std::string source = settingsPath.string();
    try {
        CArchive ar(file.get(), CArchive::Mode::Store);
        for (SettingsRecord* record : records) record->Save(ar);
        ar.Flush();
    } catch (const ArchiveException& e) {
        Report(ui, ArchiveErrorText("writing", source, e));
        return;
    } catch (const std::bad_alloc&) {
        Report(ui, "Not enough memory to write " + source + ".");
        return;
    }
    if (const int error = file.Close(); error != 0) Report(ui, FileErrorText("writing", settingsPath, error));
}

}  // namespace archive
