#include "pages/PageBurn.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>

#include "archive/Archive.h"
#include "fdp/RequestFrontEnd.h"
#include "fdp/FdpTypes.h"
#include "hci/DongleLink.h"
#include "hci/LoopRunner.h"
#include "pages/FirmSheet.h"
#include "pages/LoopTestChoice.h"
#include "fdp/FormatBdAddr.h"
#include "pages/WizardHost.h"
#include "pages/WizardJob.h"
#include "resources/strings/StringIds.h"
#include "resources/strings/StringTable.h"
#include "widgets/ControlId.h"
#include "widgets/DialogText.h"

namespace {

// The target answers trace, diagnose and test-mode requests within this time.
constexpr int kRequestWaitMs = 1000;
// Between the lines of the self test, so the user sees them come one by one.
constexpr int kDiagnoseLinePauseMs = 300;
constexpr std::size_t kTraceBufferLen = 8192;

std::string S(unsigned id) { return res::LoadString(id); }

// The edits show the system's CR LF line ends as plain line breaks.
void SetEditText(QPlainTextEdit* edit, const std::string& text) {
    QString shown = QString::fromStdString(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (edit->toPlainText() != shown) edit->setPlainText(shown);
}

struct DiagnoseUnit {
    std::uint8_t bit;
    unsigned ok, failed;
};
constexpr DiagnoseUnit kDiagnoseUnits[] = {
    {0x01, 57748, 57749},   // UART
    {0x02, 57750, 57751},   // MAC
    {0x04, 57752, 57753},   // RAM
    {0x08, 57754, 57755},   // FLASH
    {0x10, 57756, 57757},   // TIMER
    {0x20, 57758, 57759},   // Bluetooth module
};

}  // namespace

CPageBurn::CPageBurn(IWizardHost& host, WizardJob& job)
    : CWizardPage(host, job, DlgText("Step 4: Download the firmware or config info"),
                  1038),
      m_summaryEdit(new QPlainTextEdit(this)),
      m_reportEdit(new QPlainTextEdit(this)),
      m_progress(new QProgressBar(this)),
      m_accept(new QCheckBox(DlgText("I accept"), this)),
      m_trace(new QPushButton(DlgText("Trace"), this)),
      m_diagnose(new QPushButton(DlgText("Diagnose"), this)) {
    SetControlId(m_summaryEdit, 1022);
    SetControlId(m_reportEdit, 1021);
    SetControlId(m_progress, 1056);
    SetControlId(m_accept, 1040);
    SetControlId(m_trace, 1052);
    SetControlId(m_diagnose, 1053);
    for (QPlainTextEdit* edit : {m_summaryEdit, m_reportEdit}) edit->setReadOnly(true);
    m_progress->setRange(0, fdp::CDownloadReport::kBarMax);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);
    m_accept->setVisible(false);
    m_accept->setEnabled(false);
    for (QPushButton* button : {m_trace, m_diagnose}) {
        button->setVisible(false);
        button->setEnabled(false);
    }
    connect(m_accept, &QCheckBox::clicked, this, [this] {
        UpdateData(true);
        BuildSummary();
    });
    connect(m_trace, &QPushButton::clicked, this, &CPageBurn::OnTrace);
    connect(m_diagnose, &QPushButton::clicked, this, &CPageBurn::OnDiagnose);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_accept);
    buttons->addStretch(1);
    buttons->addWidget(m_trace);
    buttons->addWidget(m_diagnose);
    PageLayout()->addWidget(m_summaryEdit, 2);
    PageLayout()->addWidget(m_reportEdit, 3);
    PageLayout()->addWidget(m_progress);
    PageLayout()->addLayout(buttons);
}

bool CPageBurn::OnInitDialog() {
    CWizardPage::OnInitDialog();
    // The loop test has no progress to show; a bar hidden once stays hidden.
    if (Job().task == TaskLoopTest) {
        m_progress->setVisible(false);
        m_progress->setEnabled(false);
    }
    m_reportText.clear();
    ShowServiceButtons(false);
    m_progress->setRange(0, fdp::CDownloadReport::kBarMax);
    return true;
}

bool CPageBurn::OnSetActive() {
    m_report.Reset();
    m_adapterLost = false;
    BuildSummary();
    return CWizardPage::OnSetActive();
}

bool CPageBurn::DoDataExchange(bool toMembers) {
    if (toMembers) {
        m_acceptChecked = m_accept->isChecked() ? 1 : 0;
    } else {
        SetEditText(m_summaryEdit, m_summaryText);
        SetEditText(m_reportEdit, m_reportText);
        m_accept->setChecked(m_acceptChecked != 0);
    }
    return true;
}

// The session alone knows: the page's state follows its reports, handed on later.
bool CPageBurn::DownloadRunning() const { return Host().FrontEnd().DownloadRunning(); }

void CPageBurn::BuildSummary() {
    m_summaryText.clear();
    const WizardJob& job = Job();
    if (job.task != TaskLoopTest && Sheet() && Sheet()->ActivePage() == this) {
        switch (m_report.state()) {
        case DownloadState::Done: Sheet()->SetWizardButtons(CFirmSheet::WizBack | CFirmSheet::WizFinish); break;
        case DownloadState::Idle:
            if (m_adapterLost) Sheet()->SetWizardButtons(CFirmSheet::WizBack | CFirmSheet::WizFinish);
            else Sheet()->SetWizardButtons(m_acceptChecked ? CFirmSheet::WizBack | CFirmSheet::WizNext : CFirmSheet::WizBack);
            break;
        default: Sheet()->SetWizardButtons(CFirmSheet::WizDisabledFinish); break;
        }
    }
    UpdateServiceButtons();
    m_summaryText = S(57771);
    if (job.linkState != LinkConnected) {
        m_summaryText += S(57783);
    } else {
        m_summaryText += S(57772) + job.connectedWith + "\r\n";
        // Another unit answers on the same network: the user may be about to change the wrong one.
        for (const auto& other : Host().FrontEnd().OtherTargets())
            m_summaryText += res::FormatString(res::IDS_OTHER_TARGET, {FormatBdAddr(other.address)}) + "\r\n";
        m_summaryText += "\r\n";
        if (job.task == TaskLoopTest)
            m_summaryText += S(57773) + job.connectedWith + "\r\n" + S(57774) + DongleAddressText() + "\r\n" + "\r\n";
        m_summaryText += S(57775);
        const LoopTestChoice& loop = TheLoopTestChoice();
        switch (job.task) {
        case TaskFirmware:
            if (job.updateBoot == 1) m_summaryText += S(57776) + "   " + job.bootFile + "\r\n";
            else if (job.updateProgram == 1) m_summaryText += S(57777) + "   " + job.programFile + "\r\n";
            break;
        case TaskNamePassword: m_summaryText += S(57778); break;
        case TaskDhcpNat: m_summaryText += S(57779); break;
        case TaskLoopTest:
            if (loop.testTarget == 1) m_summaryText += S(57780);
            if (loop.testDongle == 1) m_summaryText += S(57781);
            if (loop.targetTestMode) m_summaryText += S(57784);
            if (loop.dongleTestMode) m_summaryText += S(57785);
            break;
        case TaskRegister: m_summaryText += S(57787); break;
        default: m_summaryText += S(57782); break;
        }
    }
    UpdateData(false);
}

void CPageBurn::RefreshSummary() {
    if (Sheet() && Sheet()->ActivePage() == this) BuildSummary();
}

void CPageBurn::AppendReportLine(const std::string& line) {
    m_reportText += line + "\r\n";
    ShowReport();
}

void CPageBurn::ShowReport() {
    UpdateData(false);
    QScrollBar* bar = m_reportEdit->verticalScrollBar();
    bar->setValue(bar->maximum());
}

// Next starts the task here; the download page is the last, the wizard stays on it.
bool CPageBurn::OnWizardNext() {
    m_progress->setValue(0);
    UpdateData(true);
    if (Job().linkState == LinkConnected) StartTask();
    return false;
}

void CPageBurn::StartTask() {
    m_reportText = S(57733);
    const WizardJob& job = Job();
    // Without a folder for the files there is no working param.jdp to send.
    const std::string& folder = Host().FrontEnd().ProgramFolder();
    const std::string paramFile = folder.empty() ? std::string() : folder + "param.jdp";
    int refused = 0;
    switch (job.task) {
    case TaskFirmware:
        if (job.updateBoot == 1) {
            m_reportText += S(57734);
            refused = Host().StartDownload(fdp::KindBoot, job.bootFile);
        } else if (job.updateProgram == 1) {
            m_reportText += S(57735);
            refused = Host().StartDownload(fdp::KindProgram, job.programFile);
        }
        break;
    case TaskNamePassword:
        m_reportText += S(57736);
        refused = Host().StartDownload(fdp::KindParam, paramFile);
        break;
    case TaskDhcpNat:
        m_reportText += S(57737);
        refused = Host().StartDownload(fdp::KindParam, paramFile);
        break;
    case TaskRegister:
        m_reportText += S(57786);
        refused = Host().StartDownload(fdp::KindParam, paramFile);
        break;
    case TaskLoopTest: RunLoopTestTask(); return;
    default: m_reportText += S(57743); break;
    }
    if (refused != 0) return;   // the front end's result text says why; Back and Next stay
    // The firmware page could not record the version without param.jdp.
    if (job.task == TaskFirmware && folder.empty()) m_reportText += S(res::IDS_VERSION_NOT_RECORDED);
    m_report.Begin();
    BuildSummary();
}

// Runs the first chosen of: dongle loop test, target loop test, dongle test mode,
// target test mode.
void CPageBurn::RunLoopTestTask() {
    const LoopTestChoice& loop = TheLoopTestChoice();
    unsigned header = 0;
    void (CPageBurn::*run)() = nullptr;
    if (loop.testDongle == 1) header = 57738;
    else if (loop.testTarget == 1) header = 57739;
    else if (loop.dongleTestMode == 1) header = 57740;
    else if (loop.targetTestMode == 1) { header = 57742; run = &CPageBurn::RunTargetTestMode; }
    if (!header) return;
    m_reportText += S(header);
    ShowReport();
    Sheet()->SetWizardButtons(0);
    Sheet()->repaint();
    if (run) {
        (this->*run)();
        return;
    }
    // The runs wait on the dongle link, which keeps the window painting meanwhile.
    hci::CLoopRunner runner(&Host().FrontEnd(), TheDongleLink(), [this](const std::string& text) {
        m_reportText += text;
        ShowReport();
    });
    const hci::LoopSettings settings{loop.loopDataSize, loop.loopSpeed};
    if (loop.testDongle == 1) runner.RunDongleLoopTest(settings);
    else if (loop.testTarget == 1) runner.RunTargetLoopTest(settings);
    else runner.RunDongleTestMode();
    Sheet()->SetWizardButtons(CFirmSheet::WizBack | CFirmSheet::WizFinish);
}

void CPageBurn::RunTargetTestMode() {
    // Enable_Device_Under_Test_Mode as an HCI command packet, which the target passes
    // to its Bluetooth module. Shared: the engine may still write it after our wait.
    const fdp::SharedBuffer block = hci::CLoopRunner::TargetTestModeBlock();
    const std::vector<std::uint8_t> answer = Host().FrontEnd().EnableTargetTestMode(block) == 0
                                                 ? Host().WaitForAnswer(fdp::JobTransfer, kRequestWaitMs, block)
                                                 : *block;
    m_reportText += S(answer[0] == 0 ? 57761 : 57762);
    ShowReport();
    Sheet()->SetWizardButtons(CFirmSheet::WizBack | CFirmSheet::WizFinish);
}

void CPageBurn::OnTrace() {
    if (DownloadRunning()) return;
    const fdp::SharedBuffer buffer = fdp::MakeBuffer(kTraceBufferLen);
    m_reportText.clear();
    ShowReport();
    const std::vector<std::uint8_t> text =
        Host().FrontEnd().GetTrace(buffer) == 0 ? Host().WaitForAnswer(fdp::JobGetTrace, kRequestWaitMs, buffer) : *buffer;
    m_reportText.append(text.begin(), std::find(text.begin(), text.end(), std::uint8_t{0}));
    ShowReport();
}

void CPageBurn::OnDiagnose() {
    if (DownloadRunning()) return;
    m_reportText = S(57746);
    ShowReport();
    const fdp::SharedBuffer block = fdp::MakeBuffer(fdp::kTestBlockLen);
    (*block)[0] = 0xFF;
    const std::uint8_t units = Host().FrontEnd().DiagnoseTarget(block) == 0
                                   ? Host().WaitForAnswer(fdp::JobTransfer, kRequestWaitMs, block)[0]
                                   : (*block)[0];
    if (units == 0xFF) {   // no answer
        m_reportText += S(57747);
        ShowReport();
        Sheet()->SetWizardButtons(CFirmSheet::WizBack | CFirmSheet::WizFinish);
        return;
    }
    for (const DiagnoseUnit& unit : kDiagnoseUnits) {
        m_reportText += S(units & unit.bit ? unit.ok : unit.failed);
        ShowReport();
        Host().Pause(kDiagnoseLinePauseMs);
    }
}

void CPageBurn::OnStageReport(const fdp::StageReport& report) {
    // Without the adapter a retry cannot go anywhere: Back and Finish are the ways on.
    if (Host().FrontEnd().AdapterLostText(report.stage, report.result)) m_adapterLost = true;
    // The line is the status text the report set when it was made; the front end's
    // current text may already belong to a later stage.
    if (const auto line = m_report.OnReport(report)) m_reportText += *line + "\r\n";
    m_progress->setValue(m_report.Bar());
    ShowReport();
    BuildSummary();
}

bool CPageBurn::OnWizardBack() {
    // Back while the target erases or burns would leave it so; it is a way out like
    // closing and asks the same question (Yes stops the download and closes).
    if (DownloadRunning()) {
        Host().FinishWizard();
        return false;
    }
    m_reportText.clear();
    UpdateData(false);
    // Closed every time, so that the loop test page opens the dongle afresh.
    if (Job().task == TaskLoopTest) TheDongleLink().CloseDongle();
    return true;
}

// Back returns to the page that took the task's inputs.
int CPageBurn::BackPage() const { return TaskPage(Job().task); }

bool CPageBurn::OnWizardFinish() { return Host().FinishWizard(); }

std::string CPageBurn::DongleAddressText() const { return TheDongleLink().DongleAddressText(); }

void CPageBurn::ShowServiceButtons(bool show) {
    m_serviceShown = show;
    for (QPushButton* button : {m_trace, m_diagnose}) button->setVisible(show);
    UpdateServiceButtons();
}

void CPageBurn::UpdateServiceButtons() {
    for (QPushButton* button : {m_trace, m_diagnose}) button->setEnabled(m_serviceShown && !DownloadRunning());
}

void CPageBurn::Save(archive::CArchive& ar) { ar.WriteString(m_summaryText); }

void CPageBurn::Load(archive::CArchive& ar) {
    std::string summary = ar.ReadString();
    m_summaryText = std::move(summary);
}
