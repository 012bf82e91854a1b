#include "pages/PageBurn.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/FirmSheet.h"
#include "app/WizardJob.h"
#include "app/widgets/ControlId.h"
#include "app/widgets/DialogText.h"
#include "archive/Archive.h"
#include "fdp/FdpTypes.h"

CPageBurn::CPageBurn(CKelvaneDlg& main, WizardJob& job)
    : CWizardPage(main, job, DlgText("Step 4: Download the firmware or config info", "第 4 步: 将固件程序或配置信息下载"),
                  1038),
      m_trace(new QPushButton(DlgText("Trace", "调试信息"), this)),
      m_diagnose(new QPushButton(DlgText("Diagnose", "诊断"), this)) {
    SetControlId(m_trace, 1052);
    SetControlId(m_diagnose, 1053);
    for (QPushButton* button : {m_trace, m_diagnose}) {
        button->setVisible(false);
        button->setEnabled(false);
    }
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_trace);
    buttons->addWidget(m_diagnose);
    PageLayout()->addStretch(1);
    PageLayout()->addLayout(buttons);
}

bool CPageBurn::OnSetActive() {
    Sheet()->SetWizardButtons(CFirmSheet::WizBack);
    return CWizardPage::OnSetActive();
}

int CPageBurn::OnWizardBack() {
    int target = -1;
    switch (Job().task) {
    case TaskFirmware: target = PageFirmFileIndex; break;
    case TaskNamePassword: target = PageParamIndex; break;
    case TaskDhcpNat: target = PageConfigIpIndex; break;
    case TaskLoopTest: target = PageCircleTestIndex; break;
    case TaskRegister: target = PageRegisterIndex; break;
    default: break;
    }
    if (target >= 0) Sheet()->SetActivePage(target);
    return kStay;
}

void CPageBurn::RevealServiceButtons() {
    for (QPushButton* button : {m_trace, m_diagnose}) {
        button->setVisible(true);
        button->setEnabled(true);
    }
}

// The download, erase and report events of the link; their handling comes with the
// page's jobs.
bool CPageBurn::event(QEvent* event) {
    switch (static_cast<std::uint32_t>(event->type())) {
    case fdp::WM_FDP_DOWNLOAD:
    case fdp::WM_FDP_ERASE:
    case fdp::WM_FDP_REPORT: return true;
    default: return CWizardPage::event(event);
    }
}

void CPageBurn::Save(archive::CArchive& ar) { ar.WriteString(m_summaryText); }

void CPageBurn::Load(archive::CArchive& ar) {
    std::string summary = ar.ReadString();
    m_summaryText = std::move(summary);
}
