// Page 7, the loop test's choice page. Its checks and the dongle start are still to
// come; it already keeps its settings record and sets the loop test choices from it.
#pragma once

#include <array>

#include "pages/WizardPage.h"

class CPageCircleTest : public CWizardPage {
    Q_OBJECT
public:
    CPageCircleTest(CKelvaneDlg& main, WizardJob& job);

    bool OnSetActive() override;
    int OnWizardBack() override;
    // Six radio values (0 selected, -1 not): target test mode (1002), dongle test mode
    // (1010), test target (1009), test dongle (1089), dongle master (1011), dongle
    // slave (1012); then the data size and the speed.
    void Save(archive::CArchive& ar) override;
    void Load(archive::CArchive& ar) override;

private:
    void SetChoicesFromRadios();

    std::array<std::int32_t, 6> m_radios{-1, -1, -1, -1, -1, -1};
    std::uint32_t m_dataSize = 1;
    std::uint32_t m_speed = 0;
};
