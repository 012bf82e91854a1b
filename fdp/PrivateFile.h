// The one way the program writes its working files (kelvane.ini, param.jdp, trace.txt,
// Target_Bt_Addr.txt, history.jsonl). They hold the target's login password, so each is
// created readable by its owner only from the first moment (never created wider and
// narrowed later), and none is ever opened through a symbolic link: a link planted where
// a working file belongs would otherwise make the program write wherever it points.
//
// A file that is rewritten as a whole goes through Replace/Commit: the bytes go into a
// new file in the same folder, are flushed to disk and then renamed over the old one,
// so a reader that opened the old file keeps the old bytes and a crash leaves either
// the old file or the new one, never half of each.
//
// Not thread-safe per object; distinct objects may be used from any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace fdp {

class CPrivateFile {
public:
    enum class Mode {
        Truncate,    // created, or cut to length 0; read and write
        Append,      // created or kept; every write goes to the end; read and write
        CreateNew,   // created; an existing file (or link) is an error; write only
        ReadOnly,    // an existing file only
    };

    CPrivateFile() = default;
    ~CPrivateFile();
    CPrivateFile(CPrivateFile&& other) noexcept;
    CPrivateFile& operator=(CPrivateFile&& other) noexcept;
    CPrivateFile(const CPrivateFile&) = delete;
    CPrivateFile& operator=(const CPrivateFile&) = delete;

    // Opens path. Anything but a regular file (a symbolic link, a FIFO, a folder) is
    // refused, and so is another user's file for writing. An existing file that others
    // may read is narrowed to 0600 before a byte is written. On failure the object is
    // closed and Error() tells why.
    static CPrivateFile Open(const std::filesystem::path& path, Mode mode);

    // Starts a rewrite of path: the object writes into a new, empty file of mode 0600
    // beside it. Commit() puts it in path's place; destroying the object without
    // Commit() removes the new file and leaves path as it was.
    static CPrivateFile Replace(const std::filesystem::path& path);

    // Flushes the new file to disk and renames it over the path given to Replace.
    // False with Error() set when a step fails; the old file then stays in place.
    bool Commit();

    // Replace, write all of bytes, Commit.
    static bool Rewrite(const std::filesystem::path& path, std::span<const std::uint8_t> bytes, std::string& error);

    bool IsOpen() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    // Gives up ownership of the descriptor of an Open (for fdopen); -1 for a Replace,
    // whose new file only Commit may finish.
    int Release();
    // Writes all of bytes at the current position; false with Error() set on failure.
    bool WriteAll(std::span<const std::uint8_t> bytes);
    // Closes; false with Error() set when the close reported an error.
    bool Close();

    // The reason of the last failure, naming the file: "Cannot write /x/y: Disk full".
    const std::string& Error() const { return m_error; }
    // The errno of the last failure, 0 when none.
    int ErrorNumber() const { return m_errno; }

private:
    void Fail(const char* action, const std::filesystem::path& path, int error);
    void Discard();

    int m_fd = -1;
    std::filesystem::path m_target;     // the file a Replace renames over
    std::filesystem::path m_temporary;  // the new file of a Replace, until committed
    std::string m_error;
    int m_errno = 0;
};

}  // namespace fdp
