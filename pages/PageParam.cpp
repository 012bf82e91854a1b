#include "pages/PageParam.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "archive/Archive.h"
#include "fdp/RequestFrontEnd.h"
#include "fdp/FdpTypes.h"
#include "fdp/param/ParamStore.h"
#include "fdp/param/ParamTasks.h"
#include "pages/FirmSheet.h"
#include "pages/WizardHost.h"
#include "pages/WizardJob.h"
#include "widgets/ByteLimitEdit.h"
#include "widgets/ControlId.h"
#include "widgets/DialogText.h"
#include "widgets/InfoDlg.h"

namespace {
constexpr unsigned kPasswordsDifferId = 3007;
// The target sends its whole block well within this; we stop waiting as soon as the
// request has ended.
constexpr int kParamsWaitMs = 3200;

QString FromStd(const std::string& text) { return QString::fromStdString(text); }
}  // namespace

CPageParam::CPageParam(IWizardHost& host, WizardJob& job)
    : CWizardPage(host, job, DlgText("Step 3: Set name/password"), 1037),
      m_nameEdit(new CByteLimitEdit(static_cast<int>(param::kNameLen), this)),
      m_passwordEdit(new CByteLimitEdit(static_cast<int>(param::kPasswordLen), this)),
      m_confirmEdit(new CByteLimitEdit(static_cast<int>(param::kPasswordLen), this)),
      m_getParams(new QPushButton(DlgText("Get Parameters"), this)) {
    SetControlId(m_nameEdit, 1020);
    SetControlId(m_passwordEdit, 1007);
    SetControlId(m_confirmEdit, 1008);
    SetControlId(m_getParams, 1053);
    m_passwordEdit->setEchoMode(QLineEdit::Password);
    m_confirmEdit->setEchoMode(QLineEdit::Password);

    auto* nameGroup = new QGroupBox(DlgText("Name"), this);
    SetControlId(nameGroup, 1038);
    auto* nameGrid = new QGridLayout(nameGroup);
    nameGrid->addWidget(new QLabel(DlgText("Input a name for Target:"), nameGroup), 0, 0);
    nameGrid->addWidget(m_nameEdit, 0, 1);

    auto* passwordGroup = new QGroupBox(DlgText("Password"), this);
    SetControlId(passwordGroup, 1039);
    auto* passwordGrid = new QGridLayout(passwordGroup);
    passwordGrid->addWidget(new QLabel(DlgText("Input the new password:"), passwordGroup), 0, 0);
    passwordGrid->addWidget(m_passwordEdit, 0, 1);
    passwordGrid->addWidget(new QLabel(DlgText("Confirm the new password:"), passwordGroup), 1, 0);
    passwordGrid->addWidget(m_confirmEdit, 1, 1);

    PageLayout()->addSpacing(12);
    PageLayout()->addWidget(nameGroup);
    PageLayout()->addSpacing(8);
    PageLayout()->addWidget(passwordGroup);
    PageLayout()->addStretch(1);
    PageLayout()->addWidget(m_getParams, 0, Qt::AlignRight);
    connect(m_getParams, &QPushButton::clicked, this, &CPageParam::OnGetParams);
}

bool CPageParam::OnInitDialog() {
    ShowGetParamsButton(false);
    return CWizardPage::OnInitDialog();
}

bool CPageParam::OnSetActive() {
    Sheet()->SetWizardButtons(CFirmSheet::WizBack | CFirmSheet::WizNext);
    return CWizardPage::OnSetActive();
}

int CPageParam::BackPage() const { return PageLinkIndex; }

int CPageParam::NextPage() const { return PageBurnIndex; }

bool CPageParam::OnWizardNext() {
    return ApplyNamePassword();
}

bool CPageParam::DoDataExchange(bool toMembers) {
    if (toMembers) {
        m_targetName = m_nameEdit->text().toStdString();
        m_newPassword = m_passwordEdit->text().toStdString();
        m_confirmPassword = m_confirmEdit->text().toStdString();
    } else {
        m_nameEdit->setText(FromStd(m_targetName));
        m_passwordEdit->setText(FromStd(m_newPassword));
        m_confirmEdit->setText(FromStd(m_confirmPassword));
    }
    return true;
}

bool CPageParam::ApplyNamePassword() {
    UpdateData(true);
    Job().modifiedMask = 0;
    Job().registerMask = 0;
    if (m_newPassword != m_confirmPassword) {
        Host().ShowInfo(ResString(kPasswordsDifferId), CInfoDlg::ButtonOk, this);
        return false;
    }
    // The name is cut to its 64 bytes; a password cut short would lock the user out.
    if (!TextFits(m_passwordEdit)) return false;
    param::CParamStore* store = Host().ParamStore();
    return store && param::ApplyNamePassword(*store, m_targetName, m_newPassword,
                                             {Job().modifiedMask, Job().registerMask});
}

void CPageParam::ShowGetParamsButton(bool show) {
    m_getParams->setVisible(show);
    m_getParams->setEnabled(show);
}

void CPageParam::OnGetParams() {
    // Shared with the worker, which may still be filling it after our wait has ended.
    const fdp::SharedBuffer block = fdp::MakeBuffer(fdp::kParamImageLen);
    const std::vector<std::uint8_t> answer =
        Host().FrontEnd().GetParams(block) == 0 ? Host().WaitForAnswer(fdp::JobGetParams, kParamsWaitMs, block) : *block;
    Host().FrontEnd().SaveParamDump(answer.data());
}

QLineEdit* CPageParam::NameEdit() const { return m_nameEdit; }
QLineEdit* CPageParam::PasswordEdit() const { return m_passwordEdit; }
QLineEdit* CPageParam::ConfirmEdit() const { return m_confirmEdit; }

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
