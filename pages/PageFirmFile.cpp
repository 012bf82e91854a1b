#include "pages/PageFirmFile.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "archive/Archive.h"
#include "fdp/RequestFrontEnd.h"
#include "fdp/param/ParamStore.h"
#include "fdp/param/ParamTasks.h"
#include "pages/FirmSheet.h"
#include "pages/WizardHost.h"
#include "pages/WizardJob.h"
#include "widgets/ControlId.h"
#include "widgets/DialogText.h"
#include "widgets/InfoDlg.h"

using fdp::FirmwareBoot;
using fdp::FirmwareKind;
using fdp::FirmwareProgram;
using fdp::FirmwareVersion;

namespace {

constexpr std::uint8_t kVersionWanted[2] = {13, 14};   // byte 0 of the request, by kind
constexpr unsigned kFileVersionText[2] = {106, 102};
constexpr unsigned kTargetVersionText[2] = {107, 103};
constexpr unsigned kNoProgramText = 109;
constexpr unsigned kNoVersionSupportText = 110;
constexpr unsigned kDowngradeQuestion[2] = {105, 104};

std::array<std::uint8_t, 4> VersionBytes(const FirmwareVersion& v) { return {v.a, v.b, v.c, v.d}; }

}  // namespace

CPageFirmFile::CPageFirmFile(IWizardHost& host, WizardJob& job)
    : CWizardPage(host, job, DlgText("Step 3 : Select the firmware file"), 1036) {
    struct Ids { int check, targetVersion, edit, select, version; const char* text; };
    const Ids ids[2] = {
        {1013, 1022, 1018, 1017, 1021, "Update boot firmware"},
        {1012, 1099, 1019, 1016, 1098, "Update program firmware"},
    };
    auto* programGroup = new QGroupBox(DlgText("Program firmware"), this);
    m_bootGroup = new QGroupBox(DlgText("Boot firmware"), this);
    SetControlId(m_bootGroup, 1048);
    for (const FirmwareKind kind : {FirmwareProgram, FirmwareBoot}) {
        QGroupBox* group = kind == FirmwareBoot ? m_bootGroup : programGroup;
        FileGroup& files = m_files[kind];
        const Ids& id = ids[kind];
        files.check = new QCheckBox(DlgText(id.text), group);
        files.targetVersionButton = new QPushButton(DlgText("Version in Target"), group);
        files.edit = new QLineEdit(group);
        files.select = new QPushButton(DlgText("Select"), group);
        files.version = new QPushButton(DlgText("Version"), group);
        SetControlId(files.check, id.check);
        SetControlId(files.targetVersionButton, id.targetVersion);
        SetControlId(files.edit, id.edit);
        SetControlId(files.select, id.select);
        SetControlId(files.version, id.version);
        auto* grid = new QGridLayout(group);
        grid->addWidget(files.check, 0, 0);
        grid->addWidget(files.targetVersionButton, 0, 2);
        grid->addWidget(files.edit, 1, 0);
        grid->addWidget(files.select, 1, 1);
        grid->addWidget(files.version, 1, 2);
        grid->setColumnStretch(0, 1);

        connect(files.check, &QCheckBox::clicked, this, [this] {
            UpdateData(true);
            UpdateControls();
        });
        connect(files.select, &QPushButton::clicked, this, [this, kind] { OnSelect(kind); });
        connect(files.version, &QPushButton::clicked, this, [this, kind] { OnVersion(kind); });
        connect(files.targetVersionButton, &QPushButton::clicked, this, [this, kind] { OnTargetVersion(kind); });
    }
    m_files[FirmwareBoot].edit->setFrame(false);
    m_bootWarning = new QLabel(
        DlgText("WARNING! Unstable power input during bootcode firmware updating may cause serious damage on the "
                "device. Please keep the device powered on until update process is completed."),
        m_bootGroup);
    SetControlId(m_bootWarning, 1037);
    m_bootWarning->setWordWrap(true);
    static_cast<QGridLayout*>(m_bootGroup->layout())->addWidget(m_bootWarning, 2, 0, 1, 3);

    PageLayout()->addWidget(programGroup);
    PageLayout()->addWidget(m_bootGroup);
    PageLayout()->addStretch(1);
}

bool CPageFirmFile::OnInitDialog() {
    CWizardPage::OnInitDialog();
    const FileGroup& boot = m_files[FirmwareBoot];
    for (QWidget* control : std::initializer_list<QWidget*>{boot.check, boot.select, boot.version,
                                                           boot.targetVersionButton, boot.edit, m_bootGroup}) {
        control->setVisible(true);
        control->setEnabled(true);
    }
    UpdateControls();
    for (FileGroup& files : m_files) files.fileVersion = files.targetVersion = FirmwareVersion{};
    return true;
}

bool CPageFirmFile::OnSetActive() {
    m_checkMask = fdp::CheckAll;
    UpdateControls();
    return CWizardPage::OnSetActive();
}

int CPageFirmFile::BackPage() const { return PageLinkIndex; }

int CPageFirmFile::NextPage() const { return PageBurnIndex; }

bool CPageFirmFile::DoDataExchange(bool toMembers) {
    for (FileGroup& files : m_files) {
        if (toMembers) {
            files.checked = files.check->isChecked() ? 1 : 0;
            files.path = files.edit->text().toStdString();
        } else {
            files.check->setChecked(files.checked != 0);
            files.edit->setText(QString::fromStdString(files.path));
        }
    }
    return true;
}

void CPageFirmFile::UpdateControls() {
    for (FileGroup& files : m_files) {
        for (QWidget* control : std::initializer_list<QWidget*>{files.edit, files.select, files.version,
                                                               files.targetVersionButton})
            control->setEnabled(files.checked != 0);
    }
    m_bootWarning->setEnabled(m_files[FirmwareBoot].checked != 0);
    if (!Sheet() || Sheet()->ActivePage() != this) return;
    const bool exactlyOne = (m_files[FirmwareBoot].checked != 0) != (m_files[FirmwareProgram].checked != 0);
    Sheet()->SetWizardButtons(exactlyOne ? CFirmSheet::WizBack | CFirmSheet::WizNext : CFirmSheet::WizBack);
}

QString CPageFirmFile::StartFolder(FirmwareKind kind) const {
    const FirmwareKind other = kind == FirmwareBoot ? FirmwareProgram : FirmwareBoot;
    for (const std::string* path : {&m_lastChosen, &m_files[kind].path, &m_files[other].path}) {
        const QFileInfo file(QString::fromStdString(*path));
        if (!path->empty() && file.isAbsolute() && file.absoluteDir().exists()) return file.absolutePath();
    }
    return QDir::homePath();
}

bool CPageFirmFile::ChooseFirmwareFile(FirmwareKind kind) {
    FileGroup& files = m_files[kind];
    const QString start = StartFolder(kind);
    QFileDialog dialog(this, kind == FirmwareBoot ? QStringLiteral("Select boot firmware")
                                                  : QStringLiteral("Select program firmware"),
                       start);
    dialog.setObjectName(QStringLiteral("firmwareFileDialog"));
    // "All" takes every file: on Linux a firmware image need not have a dot in its name.
    const QString firmware = QStringLiteral("Firmware (*.bin)");
    dialog.setNameFilters({QStringLiteral("All (*)"), firmware});
    dialog.selectNameFilter(firmware);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // The desktop's own dialog (through its portal, or GTK's, KDE's) wherever the
    // platform offers one; Qt's own on the platforms without a desktop (offscreen,
    // minimal), where a theme named in the environment could still offer one that no
    // one would see.
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
        dialog.setOption(QFileDialog::DontUseNativeDialog);
    // The kind's file is preselected where it lies in the start folder; naming one
    // elsewhere would move the dialog there.
    const QFileInfo current(QString::fromStdString(files.path));
    if (!files.path.empty() && current.isAbsolute() && current.absolutePath() == start)
        dialog.selectFile(current.filePath());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    files.path = dialog.selectedFiles().first().toStdString();
    m_lastChosen = files.path;
    return true;
}

unsigned CPageFirmFile::CheckFirmwareFile(FirmwareKind kind) const {
    // A size is checked only for a kind whose box is ticked.
    std::uint32_t mask = m_checkMask;
    if (!m_files[kind].checked) mask &= ~(kind == FirmwareBoot ? fdp::CheckBootSize : fdp::CheckProgramSize);
    return fdp::CheckFirmwareFile(kind, m_files[kind].path, mask);
}

unsigned CPageFirmFile::ReadFileVersion(FirmwareKind kind, FirmwareVersion& version) const {
    std::uint32_t mask = m_checkMask;
    if (!m_files[kind].checked) mask &= ~(kind == FirmwareBoot ? fdp::CheckBootSize : fdp::CheckProgramSize);
    return fdp::ReadFileVersion(kind, m_files[kind].path, mask, version);
}

void CPageFirmFile::ShowFileCheckResult(unsigned result) {
    if (result == fdp::FileCheckOk) return;
    std::uint32_t bit = 0;
    switch (result) {
    case fdp::FileCheckBootSize: bit = fdp::CheckBootSize; break;
    case fdp::FileCheckProgramSize: bit = fdp::CheckProgramSize; break;
    case fdp::FileCheckSignature: bit = fdp::CheckSignature; break;
    default: break;
    }
    const QString text = ResString(fdp::FileCheckTextId(result));
    if (!bit) {
        Host().ShowInfo(text, CInfoDlg::ButtonOk, this);
        return;
    }
    const int answer = Host().ShowInfo(text, CInfoDlg::ButtonYes | CInfoDlg::ButtonNo, this);
    if (answer == CInfoDlg::ResultYes) m_checkMask &= ~bit;
    else if (answer == CInfoDlg::ResultNo) m_checkMask |= bit;
}

void CPageFirmFile::OnSelect(FirmwareKind kind) {
    // The program's Select takes the controls first, the boot's does not, so a boot
    // path typed but not yet taken is replaced by the choice alone.
    if (kind == FirmwareProgram) UpdateData(true);
    if (!ChooseFirmwareFile(kind)) return;
    UpdateData(false);
    ShowFileCheckResult(CheckFirmwareFile(kind));
}

void CPageFirmFile::OnVersion(FirmwareKind kind) {
    UpdateData(true);
    FirmwareVersion version;
    const unsigned result = ReadFileVersion(kind, version);
    ShowFileCheckResult(result);
    if (result != fdp::FileCheckOk) return;
    m_files[kind].fileVersion = version;
    Host().ShowInfo(ResString(kFileVersionText[kind]) + QString::fromStdString(version.Text()), CInfoDlg::ButtonOk,
                    this);
}

FirmwareVersion CPageFirmFile::AskTargetVersion(FirmwareKind kind, bool* answered) {
    return Host().TargetVersion(kVersionWanted[kind], answered);
}

void CPageFirmFile::OnTargetVersion(FirmwareKind kind) {
    const FirmwareVersion version = AskTargetVersion(kind);
    const bool anySet = version.a || version.b || version.c || version.d;
    const bool allSet = version.a == 0xFF && version.b == 0xFF && version.c == 0xFF && version.d == 0xFF;
    QString text;
    if (kind == FirmwareProgram && allSet) {
        text = ResString(kNoProgramText);
    } else if (anySet) {
        m_files[kind].targetVersion = version;
        text = ResString(kTargetVersionText[kind]) + QString::fromStdString(version.Text());
    } else {
        text = ResString(kNoVersionSupportText);
    }
    Host().ShowInfo(text, CInfoDlg::ButtonOk, this);
}

bool CPageFirmFile::OnWizardNext() {
    UpdateData(true);
    CopyToJob();
    if (m_files[FirmwareBoot].checked) return NextForKind(FirmwareBoot);
    if (m_files[FirmwareProgram].checked) return NextForKind(FirmwareProgram);
    return false;
}

bool CPageFirmFile::NextForKind(FirmwareKind kind) {
    FileGroup& files = m_files[kind];
    const unsigned result = CheckFirmwareFile(kind);
    ShowFileCheckResult(result);
    if (result != fdp::FileCheckOk) return false;
    if (FirmwareVersion version; ReadFileVersion(kind, version) == fdp::FileCheckOk) files.fileVersion = version;
    bool answered = false;
    files.targetVersion = AskTargetVersion(kind, &answered);
    // A version the target did not give (busy, refused, timed out) may be newer than the
    // file: the question is asked as for an equal one, saying why.
    const auto target = answered ? std::optional<FirmwareVersion>(files.targetVersion) : std::nullopt;
    if (fdp::FirmwareNeedsConfirmation(kind, files.fileVersion, target)) {
        QString question = ResString(kDowngradeQuestion[kind]);
        if (!answered)
            question += DlgText("\r\n\r\nNote: the target's version could not be read.");
        if (Host().ShowInfo(question, CInfoDlg::ButtonYes | CInfoDlg::ButtonNo, this) != CInfoDlg::ResultYes)
            return false;
    }
    // Without a working folder there is no param.jdp to record the version in: the
    // update goes on all the same, and its report says so.
    if (Host().FrontEnd().ProgramFolder().empty()) return true;
    return RecordFirmwareVersion(kind);
}

// The masks start from 0 for this task, so no bit of an earlier task (a name or a
// password) goes out with the firmware's parameter block.
bool CPageFirmFile::RecordFirmwareVersion(FirmwareKind kind) {
    param::CParamStore* store = Host().ParamStore();
    return store && param::ApplyFirmwareVersion(*store, kind == FirmwareBoot ? param::FirmwareArea::Boot
                                                                              : param::FirmwareArea::Program,
                                                VersionBytes(m_files[kind].fileVersion),
                                                {Job().modifiedMask, Job().registerMask});
}

void CPageFirmFile::CopyToJob() {
    Job().bootFile = m_files[FirmwareBoot].path;
    Job().programFile = m_files[FirmwareProgram].path;
    Job().updateProgram = m_files[FirmwareProgram].checked;
    Job().updateBoot = m_files[FirmwareBoot].checked;
}

void CPageFirmFile::Save(archive::CArchive& ar) {
    ar.WriteInt32(m_files[FirmwareProgram].checked);
    ar.WriteString(m_files[FirmwareBoot].path);
    ar.WriteString(m_files[FirmwareProgram].path);
    CopyToJob();
}

void CPageFirmFile::Load(archive::CArchive& ar) {
    const std::int32_t program = ar.ReadInt32();
    std::string bootPath = ar.ReadString();
    std::string programPath = ar.ReadString();
    m_files[FirmwareProgram].checked = program;
    m_files[FirmwareBoot].path = std::move(bootPath);
    m_files[FirmwareProgram].path = std::move(programPath);
    CopyToJob();
}
