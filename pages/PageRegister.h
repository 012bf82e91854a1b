// Page 4, the register task's input page. Its inputs and commit are still to come; it
// already keeps its settings record.
#pragma once

#include <array>
#include <string>

#include "pages/WizardPage.h"

class CPageRegister : public CWizardPage {
    Q_OBJECT
public:
    CPageRegister(CKelvaneDlg& main, WizardJob& job);

    bool OnSetActive() override;
    int OnWizardBack() override;
    // Register access code (1097), deregister access code (1021), register address
    // (1023), Ringlet number (1101), PSTN number (1024).
    void Save(archive::CArchive& ar) override;
    void Load(archive::CArchive& ar) override;

private:
    std::array<std::string, 5> m_texts;
};
