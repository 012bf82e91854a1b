#include "pages/PageRegister.h"

#include <QVBoxLayout>

#include "app/FirmSheet.h"
#include "app/WizardJob.h"
#include "app/widgets/DialogText.h"
#include "archive/Archive.h"

CPageRegister::CPageRegister(CKelvaneDlg& main, WizardJob& job)
    : CWizardPage(main, job, DlgText("Step3: Conifgure Register Param", "第 3 步：配置注册参数"), 1037) {
    PageLayout()->addStretch(1);
}

bool CPageRegister::OnSetActive() {
    Sheet()->SetWizardButtons(CFirmSheet::WizBack);
    return CWizardPage::OnSetActive();
}

int CPageRegister::OnWizardBack() {
    Sheet()->SetActivePage(PageLinkIndex);
    return kStay;
}

void CPageRegister::Save(archive::CArchive& ar) {
    for (const std::string& text : m_texts) ar.WriteString(text);
}

void CPageRegister::Load(archive::CArchive& ar) {
    std::array<std::string, 5> texts;
    for (std::string& text : texts) text = ar.ReadString();
    m_texts = std::move(texts);
}
