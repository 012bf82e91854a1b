#include "pages/PagePasswd.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "archive/Archive.h"
#include "fdp/RequestFrontEnd.h"
#include "pages/FirmSheet.h"
#include "pages/WizardHost.h"
#include "pages/WizardJob.h"
#include "widgets/ControlId.h"
#include "widgets/DialogText.h"
#include "widgets/InfoDlg.h"

CPagePasswd::CPagePasswd(IWizardHost& host, WizardJob& job)
    : CWizardPage(host, job, DlgText("Step 1: Input password"), 1030),
      m_passwordEdit(new QLineEdit(this)),
      m_saveCheck(new QCheckBox(DlgText("Save password"), this)) {
    SetControlId(m_passwordEdit, 1006);
    SetControlId(m_saveCheck, 1051);
    m_passwordEdit->setEchoMode(QLineEdit::Password);

    auto* group = new QGroupBox(DlgText("Input the password of the target"), this);
    auto* grid = new QGridLayout(group);
    grid->addWidget(new QLabel(DlgText("Password:"), group), 0, 0);
    grid->addWidget(m_passwordEdit, 0, 1);
    grid->addWidget(m_saveCheck, 1, 1);
    auto* note = new QLabel(
        DlgText("Note:\r\n\r\n     The original password of the target is \"kiwi\". If you have changed it, "
                "please input the new password.")
            .replace(QStringLiteral("\r\n"), QStringLiteral("\n")),
        this);
    note->setWordWrap(true);
    PageLayout()->addSpacing(12);
    PageLayout()->addWidget(group);
    PageLayout()->addSpacing(12);
    PageLayout()->addWidget(note);
    PageLayout()->addStretch(1);
}

bool CPagePasswd::OnSetActive() {
    Sheet()->SetWizardButtons(CFirmSheet::WizBack | CFirmSheet::WizNext);
    // The technician types the password at once, without reaching for the mouse.
    m_passwordEdit->setFocus();
    return CWizardPage::OnSetActive();
}

int CPagePasswd::BackPage() const { return PageWelcomeIndex; }

int CPagePasswd::NextPage() const { return PageLinkIndex; }

bool CPagePasswd::OnWizardNext() {
    UpdateData(true);
    if (Host().FrontEnd().Listen() == 0) {
        Job().linkState = LinkListening;
        return true;
    }
    Host().ShowInfo(Host().LinkUnavailableText(), CInfoDlg::ButtonOk, this);
    return false;
}

// Whichever way the exchange runs, the front end's login password follows the page's.
bool CPagePasswd::DoDataExchange(bool toMembers) {
    if (toMembers) {
        m_password = m_passwordEdit->text();
        m_savePassword = m_saveCheck->isChecked() ? 1 : 0;
    } else {
        m_passwordEdit->setText(m_password);
        m_saveCheck->setChecked(m_savePassword != 0);
    }
    Host().FrontEnd().SetPassword(m_password.toStdString());
    return true;
}

void CPagePasswd::Save(archive::CArchive& ar) {
    ar.WriteInt32(m_savePassword);
    if (m_savePassword != 0) ar.WriteString(m_password.toStdString());
}

void CPagePasswd::Load(archive::CArchive& ar) {
    const std::int32_t save = ar.ReadInt32();
    std::string password;
    if (save != 0) password = ar.ReadString();
    m_savePassword = save;
    if (save != 0) m_password = QString::fromStdString(password);
}
