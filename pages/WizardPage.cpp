#include "pages/WizardPage.h"

#include <QVBoxLayout>

#include "pages/WizardHost.h"
#include "widgets/ByteLimitEdit.h"
#include "widgets/ControlId.h"
#include "widgets/DialogText.h"
#include "widgets/FontStatic.h"
#include "widgets/InfoDlg.h"

CWizardPage::CWizardPage(IWizardHost& host, WizardJob& job, const QString& title, int titleId)
    : m_host(host), m_job(job), m_title(new CFontStatic(title, this)), m_layout(new QVBoxLayout(this)) {
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

bool CWizardPage::TextFits(CByteLimitEdit* edit) {
    if (edit->text().toUtf8().size() <= edit->ByteLimit()) return true;
    m_host.ShowInfo(DlgText("This text is longer than the target can keep: at most %1 bytes.\r\nPlease shorten it.")
                        .arg(edit->ByteLimit()),
                    CInfoDlg::ButtonOk, this);
    edit->setFocus(Qt::OtherFocusReason);
    edit->selectAll();
    return false;
}
