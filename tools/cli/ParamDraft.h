// The block a parameter task sends, built in a new file beside the working param.jdp:
// the working file takes the new values only once the target has burnt them, so a run
// that fails on its way (no adapter, a refused login, a failed transfer or burn, Ctrl-C)
// leaves param.jdp as it was and the next run starts from what the target really holds.
//
// One object per run, on one thread. The new file is readable by its owner only (the
// block carries the login password) and is removed when the object goes without Commit.
#pragma once

#include <filesystem>
#include <string>

namespace cli {

class CParamDraft {
public:
    CParamDraft() = default;
    ~CParamDraft();
    CParamDraft(const CParamDraft&) = delete;
    CParamDraft& operator=(const CParamDraft&) = delete;

    // Copies folder/param.jdp, every byte of it, into a new file "param.jdp.XXXXXX" in
    // the same folder. False with the reason in error; nothing is left behind then.
    bool Create(const std::filesystem::path& folder, std::string& error);

    // The new file, to build the block in and to send; empty before Create.
    const std::filesystem::path& Path() const { return m_draft; }
    const std::filesystem::path& WorkingFile() const { return m_working; }

    // Puts the new file in param.jdp's place (one rename, so a reader sees the old block
    // or the new one, never a mix). False with the reason in error; param.jdp is then
    // as it was and the new file is removed with the object.
    bool Commit(std::string& error);

private:
    std::filesystem::path m_working;
    std::filesystem::path m_draft;
};

}  // namespace cli
