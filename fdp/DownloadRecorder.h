// The update history's line of one download: begun when the download is handed to the
// link (what it sends, to which target, what the user asked for), hashed at its first
// report, ended with the stage and words of its last report, and, after a burn of the
// boot or program area, completed with the version read back. Then it is appended to
// history.jsonl in the program folder; a history that cannot be written never stops the
// download's own report.
//
// Threads: the settings and Begin on the owner's thread, the reports on the link's
// worker thread.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "fdp/FirmwareVersion.h"
#include "fdp/Stage.h"
#include "fdp/UpdateHistory.h"

namespace fdp {

class CDownloadRecorder {
public:
    // history.jsonl goes into this folder; none: no history is kept.
    void SetFolder(const std::string& folder) { m_folder = folder; }
    std::string HistoryPath() const;

    // What the user asked for ("firmware" or "parameters" when not set).
    void SetTask(const std::string& task);
    // The names of the fields a parameter download changes ("name,password"); the values
    // never go there.
    void SetFields(const std::string& fields);
    // The file the line names when it is not the file sent (a parameter block built in a
    // draft beside param.jdp). Empty: the file sent.
    void SetFile(const std::string& path);
    // The target's version of a flash area, read before: it goes with a download to it.
    void SetTargetVersion(std::uint8_t kind, const std::string& version);

    // A download of this area from path was handed to the link, over this adapter to
    // this target.
    void Begin(std::uint8_t kind, const std::string& path, const std::string& adapter, const std::string& target);
    // The link refused it: no line.
    void Forget();
    // A report of the download: the first takes the file's digest (not on the owner's
    // thread: a large file would hold up the window).
    void OnReport();
    // The download's last report: its stage, result and the words the user read.
    void End(Stage stage, unsigned result, const std::string& resultText);
    // The version read back after a burn (nothing: it could not be read).
    void OnVersionAfter(const std::optional<FirmwareVersion>& version);

private:
    void AppendLocked();   // under m_lock, with a download begun

    std::string m_folder;
    std::mutex m_lock;
    std::optional<HistoryRecord> m_download;
    bool m_hashed = false;
    std::chrono::steady_clock::time_point m_start;
    std::string m_task;
    std::string m_fields;
    std::string m_file;
    std::array<std::string, 8> m_targetVersions;   // by DownloadKind
};

}  // namespace fdp
