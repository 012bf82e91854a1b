#include "pages/PageWelcome.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "pages/FirmSheet.h"
#include "pages/WizardJob.h"
#include "widgets/ControlId.h"
#include "widgets/DialogText.h"

namespace {
constexpr unsigned kGuideTextId = 3102;
}

CPageWelcome::CPageWelcome(IWizardHost& host, WizardJob& job)
    : CWizardPage(host, job, DlgText("Firmware Management Wizard"), 1029),
      m_guideEdit(new QPlainTextEdit(this)) {
    SetControlId(m_guideEdit, 1028);
    m_guideEdit->setReadOnly(true);
    m_guideEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    PageLayout()->addWidget(m_guideEdit, 1);
}

bool CPageWelcome::OnInitDialog() {
    m_guideText = ResString(kGuideTextId);
    return CWizardPage::OnInitDialog();
}

bool CPageWelcome::OnSetActive() {
    Sheet()->SetWizardButtons(CFirmSheet::WizNext);
    return CWizardPage::OnSetActive();
}

int CPageWelcome::NextPage() const { return PagePasswdIndex; }

bool CPageWelcome::DoDataExchange(bool toMembers) {
    if (toMembers) {
        m_guideText = m_guideEdit->toPlainText();
    } else {
        // The table's line breaks are CR LF; the edit wants one break per line.
        m_guideEdit->setPlainText(QString(m_guideText).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    }
    return true;
}
