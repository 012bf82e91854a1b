#include "pages/PageParam.h"

#include <QPushButton>
#include <QVBoxLayout>

#include "app/FirmSheet.h"
#include "app/WizardJob.h"
#include "app/widgets/ControlId.h"
#include "app/widgets/DialogText.h"
#include "archive/Archive.h"

CPageParam::CPageParam(CKelvaneDlg& main, WizardJob& job)
    : CWizardPage(main, job, DlgText("Step 3: Set name/password", "第 3 步：修改设备名称和密码"), 1037),
      m_getParams(new QPushButton(DlgText("Get Parameters", "从设备取参数"), this)) {
    SetControlId(m_getParams, 1053);
    m_getParams->setVisible(false);
    m_getParams->setEnabled(false);
    PageLayout()->addStretch(1);
    PageLayout()->addWidget(m_getParams, 0, Qt::AlignRight);
}

bool CPageParam::OnSetActive() {
    Sheet()->SetWizardButtons(CFirmSheet::WizBack);
    return CWizardPage::OnSetActive();
}

int CPageParam::OnWizardBack() {
    Sheet()->SetActivePage(PageLinkIndex);
    return kStay;
}

void CPageParam::RevealServiceButtons() {
    m_getParams->setVisible(true);
    m_getParams->setEnabled(true);
}

void CPageParam::Save(archive::CArchive& ar) {
    ar.WriteString(m_targetName);
    ar.WriteString(m_newPassword);
    ar.WriteString(m_confirmPassword);
}

void CPageParam::Load(archive::CArchive& ar) {
    std::string name = ar.ReadString();
    std::string password = ar.ReadString();
    std::string confirm = ar.ReadString();
    m_targetName = std::move(name);
    m_newPassword = std::move(password);
    m_confirmPassword = std::move(confirm);
}
