// Page 1: the target's login password, optionally remembered in kelvane.ini. Next hands
// the password to the front end and starts listening for the target.
#pragma once

#include "pages/WizardPage.h"

class QCheckBox;
class QLineEdit;

class CPagePasswd : public CWizardPage {
    Q_OBJECT
public:
    CPagePasswd(IWizardHost& host, WizardJob& job);

    bool OnSetActive() override;
    bool OnWizardNext() override;
    int BackPage() const override;
    int NextPage() const override;
    bool DoDataExchange(bool toMembers) override;
    // The flag, then the password only when the flag is set.
    void Save(archive::CArchive& ar) override;
    void Load(archive::CArchive& ar) override;

    QString Password() const { return m_password; }
    bool SavePassword() const { return m_savePassword != 0; }
    QLineEdit* PasswordEdit() const { return m_passwordEdit; }
    QCheckBox* SaveCheck() const { return m_saveCheck; }

private:
    QString m_password;
    std::int32_t m_savePassword = 0;
    QLineEdit* m_passwordEdit;
    QCheckBox* m_saveCheck;
};
