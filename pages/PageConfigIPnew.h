// Page 6, the DHCP and NAT task's input page. Its choices and commit are still to come;
// it has no settings record.
#pragma once

#include "pages/WizardPage.h"

class CPageConfigIPnew : public CWizardPage {
    Q_OBJECT
public:
    CPageConfigIPnew(CKelvaneDlg& main, WizardJob& job);

    bool OnSetActive() override;
    int OnWizardBack() override;
};
