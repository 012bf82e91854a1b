// Page 7, the loop test's choice page: one of four tests, the dongle's role, the data
// size and speed. Next checks them, opens and starts the dongle and moves to the
// download page, which runs the test.
#pragma once

#include <array>

#include "pages/WizardPage.h"

class QLineEdit;
class QRadioButton;

class CPageCircleTest : public CWizardPage {
    Q_OBJECT
public:
    CPageCircleTest(IWizardHost& host, WizardJob& job);

    bool OnInitDialog() override;
    bool OnSetActive() override;
    bool OnWizardNext() override;
    int BackPage() const override;
    int NextPage() const override;
    bool DoDataExchange(bool toMembers) override;
    // Six radio values (0 selected, -1 not): target test mode (1002), dongle test mode
    // (1010), test target (1009), test dongle (1089), dongle master (1011), dongle
    // slave (1012); then the data size and the speed.
    void Save(archive::CArchive& ar) override;
    void Load(archive::CArchive& ar) override;

    QRadioButton* Radio(int controlId) const;
    QLineEdit* Edit(int controlId) const;

private:
    void OnRadioClicked(std::size_t slot);
    void SetChoicesFromRadios();
    // Shows one of the page's messages in a plain message box.
    void Message(const char* text);

    std::array<QRadioButton*, 6> m_radioButtons;
    QLineEdit* m_dataSizeEdit;
    QLineEdit* m_speedEdit;
    std::array<std::int32_t, 6> m_radios{-1, -1, -1, -1, -1, -1};
    std::uint32_t m_dataSize = 1;
    std::uint32_t m_speed = 0;
};
