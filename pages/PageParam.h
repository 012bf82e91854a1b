// Page 3, the name and password task's input page: a new friendly name for the target
// and a new password typed twice. Next writes both into the parameter block with their
// change mask, saves param.jdp and moves to the download page, which sends it. The
// hidden "Get Parameters" service button dumps the target's parameter block into
// trace.txt.
#pragma once

#include <string>

#include "pages/WizardPage.h"

class QLineEdit;
class QPushButton;
class CByteLimitEdit;

class CPageParam : public CWizardPage {
    Q_OBJECT
public:
    CPageParam(IWizardHost& host, WizardJob& job);

    bool OnInitDialog() override;
    bool OnSetActive() override;
    bool OnWizardNext() override;
    int BackPage() const override;
    int NextPage() const override;
    bool DoDataExchange(bool toMembers) override;
    // Target name, new password, its confirmation.
    void Save(archive::CArchive& ar) override;
    void Load(archive::CArchive& ar) override;

    // Mismatched passwords are reported (3007), so is a password longer than its 16
    // bytes (restored from kelvane.ini); a failed save is not. True when param.jdp
    // holds the new values.
    bool ApplyNamePassword();
    // The service code has been typed into the About box (true), or not.
    void ShowGetParamsButton(bool show);
    // Fetches the target's block and has the front end dump it into trace.txt.
    void OnGetParams();

    QLineEdit* NameEdit() const;
    QLineEdit* PasswordEdit() const;
    QLineEdit* ConfirmEdit() const;
    QPushButton* GetParamsButton() const { return m_getParams; }

private:
    std::string m_targetName;
    std::string m_newPassword;
    std::string m_confirmPassword;
    CByteLimitEdit* m_nameEdit;
    CByteLimitEdit* m_passwordEdit;
    CByteLimitEdit* m_confirmEdit;
    QPushButton* m_getParams;
};
