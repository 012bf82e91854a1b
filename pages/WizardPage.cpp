#include "pages/WizardPage.h"

#include <QVBoxLayout>

#include "app/widgets/ControlId.h"
#include "app/widgets/FontStatic.h"

CWizardPage::CWizardPage(CKelvaneDlg& main, WizardJob& job, const QString& title, int titleId)
    : m_main(main), m_job(job), m_title(new CFontStatic(title, this)), m_layout(new QVBoxLayout(this)) {
    SetControlId(m_title, titleId);
    QFont titleFont = m_title->font();
    titleFont.setBold(true);
    m_title->setFont(titleFont);
    m_layout->addWidget(m_title);
}

bool CWizardPage::OnInitDialog() {
    m_initialised = true;
    UpdateData(false);
    return true;
}

bool CWizardPage::OnSetActive() {
    if (m_firstSetActive) {
        m_firstSetActive = false;
    } else {
        UpdateData(false);
    }
    return true;
}

bool CWizardPage::OnKillActive() { return UpdateData(true); }

bool CWizardPage::DoDataExchange(bool) { return true; }
