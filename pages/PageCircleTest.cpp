#include "pages/PageCircleTest.h"

#include <QVBoxLayout>

#include "app/FirmSheet.h"
#include "app/LoopTestChoice.h"
#include "app/WizardJob.h"
#include "app/widgets/DialogText.h"
#include "archive/Archive.h"

namespace {
enum RadioSlot { TargetTestMode, DongleTestMode, TestTarget, TestDongle, DongleMaster, DongleSlave };
}

CPageCircleTest::CPageCircleTest(CKelvaneDlg& main, WizardJob& job)
    : CWizardPage(main, job, DlgText("Step 3: Test choice and configuration", "第 3 步：测试选择和配置"), 1094) {
    PageLayout()->addStretch(1);
}

bool CPageCircleTest::OnSetActive() {
    Sheet()->SetWizardButtons(CFirmSheet::WizBack);
    return CWizardPage::OnSetActive();
}

int CPageCircleTest::OnWizardBack() {
    Sheet()->SetActivePage(PageLinkIndex);
    return kStay;
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
