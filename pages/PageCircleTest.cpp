#include "pages/PageCircleTest.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "archive/Archive.h"
#include "hci/DongleLink.h"
#include "hci/LoopRunner.h"
#include "pages/FirmSheet.h"
#include "pages/LoopTestChoice.h"
#include "pages/WizardHost.h"
#include "pages/WizardJob.h"
#include "widgets/ControlId.h"
#include "widgets/DialogText.h"

namespace {
enum RadioSlot : std::size_t { TargetTestMode, DongleTestMode, TestTarget, TestDongle, DongleMaster, DongleSlave };
constexpr int kRadioIds[] = {1002, 1010, 1009, 1089, 1011, 1012};
constexpr bool IsTestChoice(std::size_t slot) { return slot <= TestDongle; }

// The system's message, with why and what to do under it when that is known.
void ShowDongleMessage(QWidget* parent, const std::string& text, const std::string& detail) {
    QMessageBox box(QMessageBox::Warning, parent->windowTitle(), QString::fromStdString(text), QMessageBox::Ok, parent);
    if (!detail.empty()) box.setInformativeText(QString::fromStdString(detail));
    box.exec();
}

bool ParseUnsigned(const QString& text, std::uint32_t& value) {
    bool ok = false;
    const qulonglong parsed = text.toULongLong(&ok);
    if (!ok || parsed > 0xFFFFFFFFu) return false;
    value = static_cast<std::uint32_t>(parsed);
    return true;
}
}  // namespace

CPageCircleTest::CPageCircleTest(IWizardHost& host, WizardJob& job)
    : CWizardPage(host, job, DlgText("Step 3: Test choice and configuration"), 1094),
      m_dataSizeEdit(new QLineEdit(this)),
      m_speedEdit(new QLineEdit(this)) {
    const char* const texts[] = {
        "Target under Test Mode", "Dongle under Test Mode", "Test Target",
        "Test Dongle",            "Dongle is Master",       "Dongle is Slave",
    };
    for (std::size_t slot = 0; slot < m_radioButtons.size(); ++slot) {
        auto* radio = new QRadioButton(DlgText(texts[slot]), this);
        SetControlId(radio, kRadioIds[slot]);
        // Each radio is a group of its own; the page keeps them exclusive.
        radio->setAutoExclusive(false);
        connect(radio, &QRadioButton::clicked, this, [this, slot] { OnRadioClicked(slot); });
        m_radioButtons[slot] = radio;
    }
    const auto digitsOnly = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);
    for (auto [edit, id] : {std::pair{m_dataSizeEdit, 1090}, std::pair{m_speedEdit, 1096}}) {
        SetControlId(edit, id);
        edit->setValidator(digitsOnly);
        edit->setMaxLength(10);
        edit->setMaximumWidth(120);
    }

    auto* choices = new QGroupBox(DlgText("Test choice"), this);
    auto* choiceLayout = new QGridLayout(choices);
    for (std::size_t slot = TargetTestMode; slot <= TestDongle; ++slot)
        choiceLayout->addWidget(m_radioButtons[slot], static_cast<int>(slot % 2), static_cast<int>(slot / 2));

    auto* configuration = new QGroupBox(DlgText("Test Configuration"), this);
    SetControlId(configuration, 1091);
    auto* grid = new QGridLayout(configuration);
    grid->addWidget(m_radioButtons[DongleMaster], 0, 0);
    grid->addWidget(m_radioButtons[DongleSlave], 0, 1);
    const auto label = [this](const char* english, int id) {
        auto* text = new QLabel(DlgText(english), this);
        SetControlId(text, id);
        return text;
    };
    grid->addWidget(label("The size of data to be sent:", 1092), 1, 0);
    grid->addWidget(m_dataSizeEdit, 1, 1);
    grid->addWidget(label("Bytes", 1093), 1, 2);
    grid->addWidget(label("The speed of data to be sent:", 1095), 2, 0);
    grid->addWidget(m_speedEdit, 2, 1);
    grid->addWidget(label("KBytes/s", 1097), 2, 2);
    grid->setColumnStretch(3, 1);

    PageLayout()->addSpacing(8);
    PageLayout()->addWidget(choices);
    PageLayout()->addWidget(configuration);
    PageLayout()->addStretch(1);
}

bool CPageCircleTest::OnInitDialog() {
    // The dongle's messages come from its reader thread: they are shown on this one.
    hci::CDongleLink& dongle = TheDongleLink();
    dongle.SetDevice(Host().DongleDevice());
    QPointer<QWidget> main(Host().Window());
    dongle.SetMessageHandler([main](const std::string& text, const std::string& detail) {
        QMetaObject::invokeMethod(
            qApp, [main, text, detail] { if (main) ShowDongleMessage(main, text, detail); }, Qt::QueuedConnection);
    });
    // While the dongle is started and a test runs, the window paints but takes no input.
    dongle.SetIdle([] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
    return CWizardPage::OnInitDialog();
}

bool CPageCircleTest::OnSetActive() {
    Sheet()->SetWizardButtons(CFirmSheet::WizBack | CFirmSheet::WizNext);
    return CWizardPage::OnSetActive();
}

int CPageCircleTest::BackPage() const { return PageLinkIndex; }

int CPageCircleTest::NextPage() const { return PageBurnIndex; }

void CPageCircleTest::Message(const char* text) {
    QMessageBox::warning(Host().Window(), Host().Window()->windowTitle(), QString::fromUtf8(text), QMessageBox::Ok);
}

bool CPageCircleTest::OnWizardNext() {
    if (!UpdateData(true)) return false;
    const auto selected = [this](std::size_t slot) { return m_radios[slot] == 0; };
    if (!selected(TargetTestMode) && !selected(DongleTestMode) && !selected(TestTarget) && !selected(TestDongle)) {
        Message("Please select a task!");
        return false;
    }
    if (!selected(DongleMaster) && !selected(DongleSlave)) {
        Message("Dongle is Master Or Slave?");
        return false;
    }
    LoopTestChoice& choice = TheLoopTestChoice();
    const hci::LoopSettings settings{m_dataSize, m_speed};
    if (const char* problem = hci::LoopSettingsProblem(settings)) {
        Message(problem);
        return false;
    }
    choice.loopDataSize = m_dataSize;
    choice.loopSpeed = m_speed;

    hci::CDongleLink& dongle = TheDongleLink();
    dongle.ClearState();
    dongle.SetDongleMaster(choice.dongleMaster != 0);
    if (!dongle.OpenDongle()) return false;
    dongle.StartDongle(selected(TestTarget) || selected(TestDongle));
    if (dongle.Lost()) {
        // It hung up while it was started: as good as none.
        const std::string reason = dongle.LostReason();
        dongle.CloseDongle();
        ShowDongleMessage(Host().Window(), hci::kNoDongleMessage, reason);
        return false;
    }
    return true;
}

void CPageCircleTest::OnRadioClicked(std::size_t slot) {
    LoopTestChoice& choice = TheLoopTestChoice();
    std::int32_t* const flags[] = {&choice.targetTestMode, &choice.dongleTestMode, &choice.testTarget,
                                   &choice.testDongle, &choice.dongleMaster, &choice.dongleSlave};
    // A click checks its radio and unchecks the others of its kind: the four tests, or the two roles.
    for (std::size_t other = 0; other < m_radioButtons.size(); ++other) {
        if (IsTestChoice(other) != IsTestChoice(slot)) continue;
        m_radioButtons[other]->setChecked(other == slot);
        *flags[other] = other == slot ? 1 : 0;
    }
}

bool CPageCircleTest::DoDataExchange(bool toMembers) {
    if (!toMembers) {
        for (std::size_t slot = 0; slot < m_radioButtons.size(); ++slot) m_radioButtons[slot]->setChecked(m_radios[slot] == 0);
        m_dataSizeEdit->setText(QString::number(m_dataSize));
        m_speedEdit->setText(QString::number(m_speed));
        return true;
    }
    for (std::size_t slot = 0; slot < m_radioButtons.size(); ++slot) m_radios[slot] = m_radioButtons[slot]->isChecked() ? 0 : -1;
    // An entry that is not a number keeps the value before it, and says so.
    for (auto [edit, value] : {std::pair{m_dataSizeEdit, &m_dataSize}, std::pair{m_speedEdit, &m_speed}}) {
        if (ParseUnsigned(edit->text(), *value)) continue;
        Message("Please enter an integer.");
        edit->setFocus();
        return false;
    }
    return true;
}

QRadioButton* CPageCircleTest::Radio(int controlId) const {
    for (std::size_t slot = 0; slot < m_radioButtons.size(); ++slot)
        if (kRadioIds[slot] == controlId) return m_radioButtons[slot];
    return nullptr;
}

QLineEdit* CPageCircleTest::Edit(int controlId) const {
    return controlId == 1090 ? m_dataSizeEdit : controlId == 1096 ? m_speedEdit : nullptr;
}

// Each later selected radio overrides what the earlier ones set.
void CPageCircleTest::SetChoicesFromRadios() {
    LoopTestChoice& choice = TheLoopTestChoice();
    const auto onlyTest = [&choice](std::int32_t LoopTestChoice::*chosen) {
        choice.testTarget = choice.testDongle = choice.targetTestMode = choice.dongleTestMode = 0;
        choice.*chosen = 1;
    };
    if (m_radios[TestTarget] == 0) onlyTest(&LoopTestChoice::testTarget);
    if (m_radios[TestDongle] == 0) onlyTest(&LoopTestChoice::testDongle);
    if (m_radios[TargetTestMode] == 0) onlyTest(&LoopTestChoice::targetTestMode);
    if (m_radios[DongleTestMode] == 0) onlyTest(&LoopTestChoice::dongleTestMode);
    if (m_radios[DongleMaster] == 0) {
        choice.dongleMaster = 1;
        choice.dongleSlave = 0;
    }
    if (m_radios[DongleSlave] == 0) {
        choice.dongleSlave = 1;
        choice.dongleMaster = 0;
    }
}

void CPageCircleTest::Save(archive::CArchive& ar) {
    for (std::int32_t value : m_radios) ar.WriteInt32(value);
    ar.WriteUInt32(m_dataSize);
    ar.WriteUInt32(m_speed);
    SetChoicesFromRadios();
}

void CPageCircleTest::Load(archive::CArchive& ar) {
    std::array<std::int32_t, 6> radios{};
    for (std::int32_t& value : radios) value = ar.ReadInt32();
    const std::uint32_t dataSize = ar.ReadUInt32();
    const std::uint32_t speed = ar.ReadUInt32();
    m_radios = radios;
    m_dataSize = dataSize;
    m_speed = speed;
    SetChoicesFromRadios();
}
