#include "pages/FirmSheet.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "pages/WizardPage.h"
#include "widgets/ControlId.h"
#include "widgets/DialogText.h"

CFirmSheet::CFirmSheet(QWidget* parent) : QWidget(parent), m_stack(new QStackedWidget(this)) {
    setObjectName(QStringLiteral("CFirmSheet"));
    m_back = new QPushButton(DlgText("< &Back"), this);
    m_next = new QPushButton(DlgText("&Next >"), this);
    m_finish = new QPushButton(DlgText("Finish"), this);
    m_cancel = new QPushButton(DlgText("Cancel"), this);
    // Ids 1 and 2 carry the help texts "Back step" and "Next step".
    SetControlId(m_back, 1);
    SetControlId(m_next, 2);
    for (QPushButton* button : {m_back, m_next, m_finish, m_cancel}) button->setAutoDefault(false);
    // The wizard runs to its end or is closed with the window; it has no Cancel.
    m_cancel->setEnabled(false);
    m_cancel->setVisible(false);

    connect(m_back, &QPushButton::clicked, this, &CFirmSheet::PressBack);
    connect(m_next, &QPushButton::clicked, this, &CFirmSheet::PressNext);
    connect(m_finish, &QPushButton::clicked, this, &CFirmSheet::PressFinish);

    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_back);
    buttons->addWidget(m_next);
    buttons->addWidget(m_finish);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_stack, 1);
    layout->addWidget(line);
    layout->addLayout(buttons);
    SetWizardButtons(0);
}

void CFirmSheet::AddPage(CWizardPage* page) {
    page->SetSheet(this);
    m_pages.push_back(page);
    m_stack->addWidget(page);
}

CWizardPage* CFirmSheet::Page(int index) const {
    return index >= 0 && index < PageCount() ? m_pages[static_cast<std::size_t>(index)] : nullptr;
}

bool CFirmSheet::SetActivePage(int index) {
    CWizardPage* target = Page(index);
    if (!target) return false;
    if (CWizardPage* current = ActivePage(); current && current != target) {
        if (!current->OnKillActive()) return false;
    }
    m_active = index;
    if (!target->IsInitialised()) target->OnInitDialog();
    m_stack->setCurrentWidget(target);
    target->OnSetActive();
    return true;
}

void CFirmSheet::SetWizardButtons(int flags) {
    m_buttons = flags;
    const bool finish = (flags & (WizFinish | WizDisabledFinish)) != 0;
    m_back->setEnabled((flags & WizBack) != 0);
    m_next->setVisible(!finish);
    m_next->setEnabled(!finish && (flags & WizNext) != 0);
    m_finish->setVisible(finish);
    m_finish->setEnabled((flags & WizFinish) != 0);
    // Return presses the forward button shown, as in every wizard (a disabled one
    // leaves Return without effect). No button is auto-default, so the focus never
    // moves this role to Back.
    m_next->setDefault(!finish);
    m_finish->setDefault(finish);
}

void CFirmSheet::PressBack() {
    CWizardPage* page = ActivePage();
    if (page && (m_buttons & WizBack) && page->OnWizardBack()) SetActivePage(page->BackPage());
}

void CFirmSheet::PressNext() {
    CWizardPage* page = ActivePage();
    if (page && (m_buttons & WizNext) && page->OnWizardNext()) SetActivePage(page->NextPage());
}

void CFirmSheet::PressFinish() {
    if (CWizardPage* page = ActivePage(); page && (m_buttons & WizFinish)) page->OnWizardFinish();
}
