#include "pages/PageFirmFile.h"

#include <QVBoxLayout>

#include "app/FirmSheet.h"
#include "app/WizardJob.h"
#include "app/widgets/DialogText.h"
#include "archive/Archive.h"

CPageFirmFile::CPageFirmFile(CKelvaneDlg& main, WizardJob& job)
    : CWizardPage(main, job, DlgText("Step 3 : Select the firmware file", "第 3 步：选择固件程序"), 1036) {
    PageLayout()->addStretch(1);
}

bool CPageFirmFile::OnSetActive() {
    Sheet()->SetWizardButtons(CFirmSheet::WizBack);
    return CWizardPage::OnSetActive();
}

int CPageFirmFile::OnWizardBack() {
    Sheet()->SetActivePage(PageLinkIndex);
    return kStay;
}

void CPageFirmFile::CopyToJob() {
    Job().bootFile = m_bootPath;
    Job().programFile = m_programPath;
    Job().updateProgram = m_programChecked;
    Job().updateBoot = m_bootChecked;
}

void CPageFirmFile::Save(archive::CArchive& ar) {
    ar.WriteInt32(m_programChecked);
    ar.WriteString(m_bootPath);
    ar.WriteString(m_programPath);
    CopyToJob();
}

void CPageFirmFile::Load(archive::CArchive& ar) {
    const std::int32_t program = ar.ReadInt32();
    std::string bootPath = ar.ReadString();
    std::string programPath = ar.ReadString();
    m_programChecked = program;
    m_bootPath = std::move(bootPath);
    m_programPath = std::move(programPath);
    CopyToJob();
}
