// Page 8, the download page. Its jobs, report and progress are still to come; it
// already receives the link's download events, keeps its settings record and its
// hidden service buttons, and leads Back to the chosen task's page.
#pragma once

#include <string>

#include "pages/WizardPage.h"

class QPushButton;

class CPageBurn : public CWizardPage {
    Q_OBJECT
public:
    CPageBurn(CKelvaneDlg& main, WizardJob& job);

    bool OnSetActive() override;
    int OnWizardBack() override;
    // The summary text.
    void Save(archive::CArchive& ar) override;
    void Load(archive::CArchive& ar) override;

    void RevealServiceButtons();
    QPushButton* TraceButton() const { return m_trace; }
    QPushButton* DiagnoseButton() const { return m_diagnose; }

protected:
    bool event(QEvent* event) override;

private:
    std::string m_summaryText;
    QPushButton* m_trace;
    QPushButton* m_diagnose;
};
