#include "archive/SettingsFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "fdp/PrivateFile.h"

namespace archive {
namespace {

void Report(const SettingsUi& ui, const std::string& description) {
    if (ui.reportError) ui.reportError(description);
}

std::string FileErrorText(const char* action, const std::filesystem::path& path, int error) {
    return std::string("Error ") + action + " " + path.string() + ": " + std::strerror(error) + ".";
}

std::string ArchiveErrorText(const char* action, const std::string& source, const CArchiveException& e) {
    if (e.cause() == CArchiveException::Cause::EndOfFile)
        return source + " is damaged: it ends in the middle of a record.";
    return std::string("Error ") + action + " " + source + ": " + e.what() + ".";
}

// Closes the descriptor when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() { Close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }
    // 0, or the errno of a failed close.
    int Close() {
        if (m_fd < 0) return 0;
        const int result = ::close(m_fd);
        m_fd = -1;
        return result == 0 ? 0 : errno;
    }

private:
    int m_fd;
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
    } catch (const CArchiveException& e) {
        Report(ui, ArchiveErrorText("reading", source, e));
    } catch (const std::bad_alloc&) {
        Report(ui, "Not enough memory to read " + source + ".");
    }
    return done;
}

void LoadSettings(const std::filesystem::path& settingsPath, std::span<SettingsRecord* const> records,
                  const SettingsUi& ui) {
    // Non-blocking so that a FIFO in the file's place cannot hang the start; a symbolic
    // link there is not followed (the settings are read as missing).
    FileDescriptor file(::open(settingsPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    if (file.get() < 0) return;
    struct stat st {};
    // An empty file counts as missing; so does anything but a regular file.
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) return;
    CArchive ar(file.get(), CArchive::Mode::Load);
    LoadRecords(ar, records, ui, settingsPath.string());
}

void SaveSettings(const std::filesystem::path& settingsPath, const std::filesystem::path& backupPath,
                  std::span<SettingsRecord* const> records, const SettingsUi& ui) {
    // The new settings go into a new file first: the old kelvane.ini stays whole until
    // they are on disk, and a reader that opened it never sees the new passwords.
    fdp::CPrivateFile file;
    for (;;) {
        file = fdp::CPrivateFile::Replace(settingsPath);
        if (file.IsOpen()) break;
        if (!ui.askRetry || !ui.askRetry()) return;
    }

    const std::string source = settingsPath.string();
    try {
        CArchive ar(file.Fd(), CArchive::Mode::Store);
        for (SettingsRecord* record : records) record->Save(ar);
        ar.Flush();
    } catch (const CArchiveException& e) {
        Report(ui, ArchiveErrorText("writing", source, e));
        return;   // the new file goes; the old settings stay as they were
    } catch (const std::bad_alloc&) {
        Report(ui, "Not enough memory to write " + source + ".");
        return;
    }

    if (::unlink(backupPath.c_str()) != 0 && errno != ENOENT)
        Report(ui, FileErrorText("deleting", backupPath, errno));
    // The previous settings become kelvane.old as a second name of the same file, so
    // kelvane.ini is never missing; a file system without hard links renames it.
    if (::link(settingsPath.c_str(), backupPath.c_str()) != 0 && errno != ENOENT &&
        ::rename(settingsPath.c_str(), backupPath.c_str()) != 0 && errno != ENOENT)
        Report(ui, FileErrorText("renaming", settingsPath, errno));
    if (!file.Commit()) Report(ui, file.Error() + ".");
}

}  // namespace archive
