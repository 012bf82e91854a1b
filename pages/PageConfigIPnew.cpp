#include "pages/PageConfigIPnew.h"

#include <QVBoxLayout>

#include "app/FirmSheet.h"
#include "app/WizardJob.h"
#include "app/widgets/DialogText.h"

CPageConfigIPnew::CPageConfigIPnew(CKelvaneDlg& main, WizardJob& job)
    : CWizardPage(main, job, DlgText("Step 3 : Config the DHCP and NAT", "第 3 步：配置DHCP和NAT"), 1080) {
    PageLayout()->addStretch(1);
}

bool CPageConfigIPnew::OnSetActive() {
    Sheet()->SetWizardButtons(CFirmSheet::WizBack);
    return CWizardPage::OnSetActive();
}

int CPageConfigIPnew::OnWizardBack() {
    Sheet()->SetActivePage(PageLinkIndex);
    return kStay;
}
