// Page 3, the name and password task's input page. The page's own inputs and its
// commit are still to come; it already keeps its settings record and its hidden
// service button.
#pragma once

#include "pages/WizardPage.h"

class QPushButton;

class CPageParam : public CWizardPage {
    Q_OBJECT
public:
    CPageParam(CKelvaneDlg& main, WizardJob& job);

    bool OnSetActive() override;
    int OnWizardBack() override;
    // Target name, new password, its confirmation.
    void Save(archive::CArchive& ar) override;
    void Load(archive::CArchive& ar) override;

    void RevealServiceButtons();
    QPushButton* GetParamsButton() const { return m_getParams; }

private:
    std::string m_targetName;
    std::string m_newPassword;
    std::string m_confirmPassword;
    QPushButton* m_getParams;
};
