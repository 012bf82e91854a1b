// Page 5, the firmware task's input page: which firmware (program or boot) to update,
// from which file. Before the wizard goes on it checks the file (opens, size window,
// vector table signature), compares the file's version with the target's, asks before
// a downgrade and records the version in the parameter image.
#pragma once

#include <array>
#include <string>

#include "fdp/FirmwareFile.h"
#include "pages/WizardPage.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class CPageFirmFile : public CWizardPage {
    Q_OBJECT
public:
    CPageFirmFile(IWizardHost& host, WizardJob& job);

    bool OnInitDialog() override;
    bool OnSetActive() override;
    bool OnWizardNext() override;
    int BackPage() const override;
    int NextPage() const override;
    bool DoDataExchange(bool toMembers) override;
    // The "Update program firmware" flag, the boot and the program file paths. The
    // boot choice is not stored.
    void Save(archive::CArchive& ar) override;
    void Load(archive::CArchive& ar) override;

    // The page's file check with the checks that are on now; 0 when the file passes.
    unsigned CheckFirmwareFile(fdp::FirmwareKind kind) const;
    std::uint32_t CheckMask() const { return m_checkMask; }
    const fdp::FirmwareVersion& FileVersion(fdp::FirmwareKind kind) const { return m_files[kind].fileVersion; }
    const fdp::FirmwareVersion& TargetVersion(fdp::FirmwareKind kind) const { return m_files[kind].targetVersion; }

private:
    // One group of the page: the program or the boot firmware.
    struct FileGroup {
        std::int32_t checked = 0;
        std::string path;
        fdp::FirmwareVersion fileVersion;
        fdp::FirmwareVersion targetVersion;
        QCheckBox* check = nullptr;
        QLineEdit* edit = nullptr;
        QPushButton* select = nullptr;
        QPushButton* version = nullptr;
        QPushButton* targetVersionButton = nullptr;
    };

    void UpdateControls();
    // The open-file dialog; true when a file was chosen (its path is then the kind's).
    bool ChooseFirmwareFile(fdp::FirmwareKind kind);
    // Where the dialog starts: the folder of the file chosen last in this run, of either
    // kind; else of the kind's own path (as kelvane.ini kept it), else of the other
    // kind's; a folder that is gone counts as none. The user's home when none is left.
    QString StartFolder(fdp::FirmwareKind kind) const;
    // Asks the user about a failed check; Yes to a size or signature question turns
    // that check off until the page is next activated, No turns it on.
    void ShowFileCheckResult(unsigned result);
    unsigned ReadFileVersion(fdp::FirmwareKind kind, fdp::FirmwareVersion& version) const;
    // Parameter 13 or 14, then 58 and 12; then param.jdp. False when any step fails.
    bool RecordFirmwareVersion(fdp::FirmwareKind kind);
    // The target's version of the kind, awaited for at most the version wait.
    fdp::FirmwareVersion AskTargetVersion(fdp::FirmwareKind kind, bool* answered = nullptr);

    void OnSelect(fdp::FirmwareKind kind);
    void OnVersion(fdp::FirmwareKind kind);
    void OnTargetVersion(fdp::FirmwareKind kind);
    // The checks of Next for the kind: true, for the download page, when all pass.
    bool NextForKind(fdp::FirmwareKind kind);
    void CopyToJob();

    std::uint32_t m_checkMask = fdp::CheckAll;
    std::array<FileGroup, 2> m_files;   // by FirmwareKind: boot, program
    std::string m_lastChosen;           // the file last chosen in the dialog, of either kind
    QGroupBox* m_bootGroup = nullptr;
    QLabel* m_bootWarning = nullptr;
};
