// Page 4, the register task's input page: the settings of the target's telephone
// service. Next writes the five texts into parameters 59-63 with the register mask,
// saves param.jdp and moves to the download page.
#pragma once

#include <array>
#include <string>

#include "pages/WizardPage.h"

class QLineEdit;
class CByteLimitEdit;

class CPageRegister : public CWizardPage {
    Q_OBJECT
public:
    // Edit ids in the order of the texts, the settings record and parameters 59-63.
    static constexpr std::array<int, 5> kEditIds = {1097, 1021, 1023, 1101, 1024};

    CPageRegister(IWizardHost& host, WizardJob& job);

    bool OnSetActive() override;
    bool OnWizardNext() override;
    int BackPage() const override;
    int NextPage() const override;
    bool DoDataExchange(bool toMembers) override;
    // Register access code (1097), deregister access code (1021), register address
    // (1023), Ringlet number (1101), PSTN number (1024).
    void Save(archive::CArchive& ar) override;
    void Load(archive::CArchive& ar) override;

    QLineEdit* Edit(int controlId) const;

private:
    std::array<std::string, 5> m_texts;
    std::array<CByteLimitEdit*, 5> m_edits{};
};
