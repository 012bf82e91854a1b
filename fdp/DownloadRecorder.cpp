#include "fdp/DownloadRecorder.h"

#include <sys/stat.h>

#include <cstdio>

#include "fdp/DebugTrace.h"
#include "fdp/FdpTypes.h"
#include "fdp/FirmwareFile.h"
#include "fdp/LinkTexts.h"
#include "fdp/Sha256.h"

namespace fdp {

std::string CDownloadRecorder::HistoryPath() const { return m_folder.empty() ? std::string() : HistoryFileIn(m_folder); }

void CDownloadRecorder::SetTask(const std::string& task) {
    std::lock_guard lock(m_lock);
    m_task = task;
}

void CDownloadRecorder::SetFields(const std::string& fields) {
    std::lock_guard lock(m_lock);
    m_fields = fields;
}

void CDownloadRecorder::SetFile(const std::string& path) {
    std::lock_guard lock(m_lock);
    m_file = path;
}

void CDownloadRecorder::SetTargetVersion(std::uint8_t kind, const std::string& version) {
    std::lock_guard lock(m_lock);
    if (kind < m_targetVersions.size()) m_targetVersions[kind] = version;
}

void CDownloadRecorder::Begin(std::uint8_t kind, const std::string& path, const std::string& adapter,
                              const std::string& target) {
    HistoryRecord record;
    record.time = CUpdateHistory::UtcNow();
    record.adapter = adapter;
    record.target = target;
    record.kind = KindName(kind);
    record.file = path;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        record.size = static_cast<std::uint64_t>(info.st_size);
        // A firmware file carries its version as a little-endian word.
        std::uint8_t word[4];
        std::FILE* file = kind != KindParam ? std::fopen(path.c_str(), "rb") : nullptr;
        if (file) {
            if (std::fseek(file, static_cast<long>(kVersionOffset), SEEK_SET) == 0 && std::fread(word, 1, 4, file) == 4)
                record.fileVersion = FirmwareVersion::FromLe(word).Text();
            std::fclose(file);
        }
    }
    std::lock_guard lock(m_lock);
    record.task = !m_task.empty() ? m_task : kind == KindParam ? "parameters" : "firmware";
    if (kind < m_targetVersions.size()) record.targetVersion = m_targetVersions[kind];
    if (kind == KindParam) record.fields = m_fields;
    if (!m_file.empty()) record.file = m_file;
    m_download = std::move(record);
    m_hashed = false;
    m_start = std::chrono::steady_clock::now();
}

void CDownloadRecorder::Forget() {
    std::lock_guard lock(m_lock);
    m_download.reset();
}

void CDownloadRecorder::OnReport() {
    std::string path;
    {
        std::lock_guard lock(m_lock);
        // The parameter block holds the login password: no hash of it (see the history).
        if (!m_download || m_hashed || m_download->kind == KindName(KindParam)) return;
        m_hashed = true;
        path = m_download->file;
    }
    const std::optional<std::string> digest = Sha256File(path);
    std::lock_guard lock(m_lock);
    if (m_download && digest) m_download->sha256 = *digest;
}

void CDownloadRecorder::End(Stage stage, unsigned result, const std::string& resultText) {
    std::lock_guard lock(m_lock);
    if (!m_download) return;
    m_download->stageCode = stage.Number();
    m_download->stage = StageText(stage);
    while (!m_download->stage.empty() && m_download->stage.back() == ' ') m_download->stage.pop_back();
    m_download->resultCode = result;
    m_download->result = resultText;
    m_download->durationMs = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_start).count());
    // A burnt firmware area is read back first; its version completes the line.
    if (!stage.ReadsVersionAfter(result)) AppendLocked();
}

void CDownloadRecorder::OnVersionAfter(const std::optional<FirmwareVersion>& version) {
    std::lock_guard lock(m_lock);
    if (!m_download) return;
    m_download->versionAfter = version ? version->Text() : std::string(kVersionUnread);
    AppendLocked();
}

void CDownloadRecorder::AppendLocked() {
    const HistoryRecord record = std::move(*m_download);
    m_download.reset();
    std::string error;
    if (const std::string path = HistoryPath(); !path.empty() && !CUpdateHistory(path).Append(record, error))
        DebugTrace("%s\n", error.c_str());
}

}  // namespace fdp
