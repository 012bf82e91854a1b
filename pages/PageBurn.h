// Page 8, the download page, where every task ends: a summary of what Next will do,
// then the task carried out with a progress bar and a running report. Firmware and
// parameter tasks hand one download to the link and follow its stage reports;
// the loop test task runs the chosen test here. Trace and Diagnose are service
// buttons, hidden until the service code has been typed. Finish shuts the link down,
// saves the settings and ends the program.
//
// Everything runs on the user-interface thread; the waits for Trace, Diagnose and the
// test mode keep the window painting and ignore input.
#pragma once

#include <string>

#include "fdp/DownloadReport.h"
#include "fdp/LinkEvent.h"
#include "pages/WizardPage.h"

class QCheckBox;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

class CPageBurn : public CWizardPage {
    Q_OBJECT
public:
    using DownloadState = fdp::CDownloadReport::State;

    CPageBurn(IWizardHost& host, WizardJob& job);

    bool OnInitDialog() override;
    bool OnSetActive() override;
    bool OnWizardBack() override;
    bool OnWizardNext() override;
    int BackPage() const override;
    bool OnWizardFinish() override;
    bool DoDataExchange(bool toMembers) override;
    // The summary text.
    void Save(archive::CArchive& ar) override;
    void Load(archive::CArchive& ar) override;

    // Builds the summary again when the page is shown (another target was heard).
    void RefreshSummary();
    // Appends a line of the link's own to the report (the version after a burn), without
    // changing the download's state.
    void AppendReportLine(const std::string& line);
    // A stage report of the download, handed on by the window: the report's line (its
    // status text, made when the report was), the bar, the state and the buttons.
    void OnStageReport(const fdp::StageReport& report);

    // Shows and enables, or hides and disables, Trace and Diagnose. Shown, they are
    // disabled while a download runs: the engine takes requests between the transfer and
    // the burn, and their answers would wipe the download's report.
    void ShowServiceButtons(bool show);
    void RevealServiceButtons() { ShowServiceButtons(true); }

    DownloadState downloadState() const { return m_report.state(); }
    // True while a download transfers, erases or burns: stopping it now may leave the
    // target without a working image.
    bool DownloadRunning() const;
    const std::string& SummaryText() const { return m_summaryText; }
    const std::string& ReportText() const { return m_reportText; }

    QPushButton* TraceButton() const { return m_trace; }
    QPushButton* DiagnoseButton() const { return m_diagnose; }
    QProgressBar* ProgressBar() const { return m_progress; }
    QPlainTextEdit* ReportEdit() const { return m_reportEdit; }
    QCheckBox* AcceptBox() const { return m_accept; }

private:
    void BuildSummary();
    void UpdateServiceButtons();
    // Writes the members to the controls and scrolls the report to its end.
    void ShowReport();
    void StartTask();
    void RunLoopTestTask();
    void RunTargetTestMode();
    void OnTrace();
    void OnDiagnose();
    // Where the dongle link reports its address, once connected to the dongle.
    std::string DongleAddressText() const;

    std::string m_summaryText;
    std::string m_reportText;
    std::int32_t m_acceptChecked = 1;
    bool m_serviceShown = false;
    bool m_adapterLost = false;   // the last download ended because the adapter went away
    fdp::CDownloadReport m_report;

    QPlainTextEdit* m_summaryEdit;
    QPlainTextEdit* m_reportEdit;
    QProgressBar* m_progress;
    QCheckBox* m_accept;
    QPushButton* m_trace;
    QPushButton* m_diagnose;
};
