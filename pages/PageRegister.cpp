#include "pages/PageRegister.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

#include "archive/Archive.h"
#include "fdp/param/ParamTasks.h"
#include "pages/FirmSheet.h"
#include "pages/WizardHost.h"
#include "pages/WizardJob.h"
#include "widgets/ByteLimitEdit.h"
#include "widgets/ControlId.h"
#include "widgets/DialogText.h"

CPageRegister::CPageRegister(IWizardHost& host, WizardJob& job)
    : CWizardPage(host, job, DlgText("Step3: Conifgure Register Param"), 1037) {
    const QString labels[] = {
        DlgText("Register Access Code:"), DlgText("Deregister Access Code:"),
        DlgText("Register Addr:"), DlgText("Ringlet No:"),
        DlgText("PSTN No:"),
    };
    auto* registerGroup = new QGroupBox(DlgText("Register and Deregister"), this);
    auto* callGroup = new QGroupBox(DlgText("Call"), this);
    auto* registerGrid = new QGridLayout(registerGroup);
    auto* callGrid = new QGridLayout(callGroup);
    for (std::size_t i = 0; i < m_edits.size(); ++i) {
        const bool call = i >= 3;
        QGroupBox* group = call ? callGroup : registerGroup;
        QGridLayout* grid = call ? callGrid : registerGrid;
        m_edits[i] = new CByteLimitEdit(static_cast<int>(param::kRegisterLens[i]), group);
        SetControlId(m_edits[i], kEditIds[i]);
        const int row = static_cast<int>(call ? i - 3 : i);
        grid->addWidget(new QLabel(labels[i], group), row, 0);
        grid->addWidget(m_edits[i], row, 1);
    }
    PageLayout()->addSpacing(12);
    PageLayout()->addWidget(registerGroup);
    PageLayout()->addSpacing(8);
    PageLayout()->addWidget(callGroup);
    PageLayout()->addStretch(1);
}

bool CPageRegister::OnSetActive() {
    Sheet()->SetWizardButtons(CFirmSheet::WizBack | CFirmSheet::WizNext);
    return CWizardPage::OnSetActive();
}

int CPageRegister::BackPage() const { return PageLinkIndex; }

int CPageRegister::NextPage() const { return PageBurnIndex; }

bool CPageRegister::OnWizardNext() {
    UpdateData(true);
    for (CByteLimitEdit* edit : m_edits)
        if (!TextFits(edit)) return false;
    param::CParamStore* store = Host().ParamStore();
    return store && param::ApplyRegister(*store, m_texts, {Job().modifiedMask, Job().registerMask});
}

bool CPageRegister::DoDataExchange(bool toMembers) {
    for (std::size_t i = 0; i < m_edits.size(); ++i) {
        if (toMembers) m_texts[i] = m_edits[i]->text().toStdString();
        else m_edits[i]->setText(QString::fromStdString(m_texts[i]));
    }
    return true;
}

QLineEdit* CPageRegister::Edit(int controlId) const {
    for (std::size_t i = 0; i < m_edits.size(); ++i)
        if (kEditIds[i] == controlId) return m_edits[i];
    return nullptr;
}

void CPageRegister::Save(archive::CArchive& ar) {
    for (const std::string& text : m_texts) ar.WriteString(text);
}

void CPageRegister::Load(archive::CArchive& ar) {
    std::array<std::string, 5> texts;
    for (std::string& text : texts) text = ar.ReadString();
    m_texts = std::move(texts);
}
