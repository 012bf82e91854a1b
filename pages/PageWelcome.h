// Page 0: the guide text with the four general steps; Next leads to the password page.
#pragma once

#include "pages/WizardPage.h"

class QPlainTextEdit;

class CPageWelcome : public CWizardPage {
    Q_OBJECT
public:
    CPageWelcome(IWizardHost& host, WizardJob& job);

    bool OnInitDialog() override;
    bool OnSetActive() override;
    int NextPage() const override;
    bool DoDataExchange(bool toMembers) override;

    QPlainTextEdit* GuideEdit() const { return m_guideEdit; }

private:
    QString m_guideText;
    QPlainTextEdit* m_guideEdit;
};
