// The wizard sheet: nine pages, one shown at a time, and the Back / Next / Finish
// buttons. Back and Next turn to the page that the active page's rule names
// (CWizardPage::BackPage, NextPage) once its handler lets the wizard go on; the sheet
// has no page order of its own.
#pragma once

#include <QWidget>
#include <vector>

class QPushButton;
class QStackedWidget;
class CWizardPage;

class CFirmSheet : public QWidget {
    Q_OBJECT
public:
    enum WizardButton { WizBack = 1, WizNext = 2, WizFinish = 4, WizDisabledFinish = 8 };

    explicit CFirmSheet(QWidget* parent = nullptr);

    // Pages get their sheet index (their PageIndex) in the order they are added.
    void AddPage(CWizardPage* page);
    int PageCount() const { return static_cast<int>(m_pages.size()); }
    CWizardPage* Page(int index) const;

    // Leaves the active page (which may refuse) and activates the page at index,
    // initialising it on its first activation. False when nothing changed.
    bool SetActivePage(int index);
    int ActiveIndex() const { return m_active; }
    CWizardPage* ActivePage() const { return Page(m_active); }

    // Any combination of WizardButton; 0 leaves no button enabled.
    void SetWizardButtons(int flags);
    int WizardButtons() const { return m_buttons; }

    QPushButton* BackButton() const { return m_back; }
    QPushButton* NextButton() const { return m_next; }
    QPushButton* FinishButton() const { return m_finish; }
    QPushButton* CancelButton() const { return m_cancel; }

    // What the buttons do; also callable by tests.
    void PressBack();
    void PressNext();
    void PressFinish();

private:
    std::vector<CWizardPage*> m_pages;
    QStackedWidget* m_stack;
    QPushButton* m_back;
    QPushButton* m_next;
    QPushButton* m_finish;
    QPushButton* m_cancel;
    int m_active = -1;
    int m_buttons = 0;
};
