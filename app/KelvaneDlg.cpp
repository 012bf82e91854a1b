// The main window built: its pages in the sheet, the menu, the picture strip and the
// status bar, and the About box with the service buttons it reveals.

#include "app/KelvaneDlg.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QVBoxLayout>

#include "app/AboutDlg.h"
#include "fdp/LinkSession.h"
#include "fdp/PacketSocketDriver.h"
#include "fdp/ProgramFolders.h"
#include "fdp/param/ParamStore.h"
#include "pages/FirmSheet.h"
#include "pages/PageBurn.h"
#include "pages/PageCircleTest.h"
#include "pages/PageConfigIPnew.h"
#include "pages/PageFirmFile.h"
#include "pages/PageLink.h"
#include "pages/PageParam.h"
#include "pages/PagePasswd.h"
#include "pages/PageRegister.h"
#include "pages/PageWelcome.h"
#include "pages/WizardJob.h"
#include "widgets/DialogStatusBar.h"
#include "widgets/DialogText.h"
#include "widgets/InfoDlg.h"

// The pictures are compiled into the UI library, a static library: register them
// explicitly, or the linker leaves them out.
static void InitResources() { Q_INIT_RESOURCE(kelvane); }

namespace {

// The size of the system's dialog templates in dialog units, turned into pixels of
// the window's font.
QSize DialogUnits(const QFont& font, int width, int height) {
    const QFontMetrics metrics(font);
    const int baseX = (metrics.horizontalAdvance(
                           QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) + 26) / 52;
    const int baseY = metrics.height();
    return {width * baseX / 4, height * baseY / 8};
}

}  // namespace

CKelvaneDlg::CKelvaneDlg(const Options& options, QWidget* parent) : QDialog(parent), m_options(options) {
    InitResources();
    WizardJob& job = TheWizardJob();
    const std::int32_t show = m_options.allTasks ? 1 : 0;
    job.showLoopTest = show;
    job.showDhcp = show;
    job.showRegister = show;

    m_frontEnd.SetSink(this);
    setObjectName(QStringLiteral("JOXFWMWCLASS"));
    setWindowTitle(kCaption);
    setWindowIcon(QIcon(QString::fromLatin1(kIconPath)));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

    m_pageBurn = new CPageBurn(*this, job);
    m_pageRegister = new CPageRegister(*this, job);
    m_pageCircleTest = new CPageCircleTest(*this, job);
    m_pageConfigIp = new CPageConfigIPnew(*this, job);
    m_pageLink = new CPageLink(*this, job);
    m_pagePasswd = new CPagePasswd(*this, job);
    m_pageWelcome = new CPageWelcome(*this, job);
    m_pageFirmFile = new CPageFirmFile(*this, job);
    m_pageParam = new CPageParam(*this, job);

    connect(this, &CKelvaneDlg::StageReported, m_pageBurn, &CPageBurn::OnStageReport);
    connect(this, &CKelvaneDlg::ListenEnded, m_pageLink, &CPageLink::OnListenEnded);

    m_sheet = new CFirmSheet(this);
    for (CWizardPage* page : std::initializer_list<CWizardPage*>{
             m_pageWelcome, m_pagePasswd, m_pageLink, m_pageParam, m_pageRegister, m_pageFirmFile,
             m_pageConfigIp, m_pageCircleTest, m_pageBurn}) {
        m_sheet->AddPage(page);
    }
    m_statusBar = new CDialogStatusBar(this);
    m_statusBar->SetPaneText(QStringLiteral("Kelvane"));

    BuildMenu();

    fdp::ProgramFolders folders;
    if (m_options.programFolder.empty()) {
        folders = fdp::ResolveProgramFolders(QCoreApplication::applicationDirPath().toStdString(),
                                             fdp::FolderEnvironment::FromProcess());
    } else {
        folders.work = folders.install = m_options.programFolder;
    }
    // No folder, or one refused (a named one too): the wizard says so once it shows and
    // offers what works without saving.
    if (std::string problem; !fdp::PrepareWorkFolder(folders, problem)) {
        m_folderProblem = QString::fromStdString(problem);
        folders.work.clear();
    }
    std::string folder = folders.work.string();
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (!folder.empty()) folder += '/';
    m_frontEnd.SetProgramFolder(folder);
    m_defaultFile = folders.DefaultFile().string();
    if (!folder.empty()) {
        m_settingsPath = QString::fromStdString(folder + "kelvane.ini");
        m_backupPath = QString::fromStdString(folder + "kelvane.old");
    }

    // Every page exists and has run its activation once before the settings are read;
    // the wizard then stands on the welcome page.
    for (int index = PageCount - 1; index >= 0; --index) m_sheet->SetActivePage(index);

    BuildLayout();
    qApp->installEventFilter(this);
}

CKelvaneDlg::~CKelvaneDlg() {
    qApp->removeEventFilter(this);
    // A window destroyed without being closed still stops the link's threads before
    // the pages they hand events to go away.
    if (!m_closed) ShutdownLink();
}

void CKelvaneDlg::BuildMenu() {
    m_menuBar = new QMenuBar(this);
    QMenu* file = m_menuBar->addMenu(DlgText("&File"));
    QAction* exit = file->addAction(DlgText("&Exit"));
    exit->setObjectName(QStringLiteral("menuExit"));
    connect(exit, &QAction::triggered, this, &QWidget::close);
    QMenu* help = m_menuBar->addMenu(DlgText("&Help"));
    QAction* about = help->addAction(DlgText("&About Kelvane"));
    about->setObjectName(QStringLiteral("menuAbout"));
    connect(about, &QAction::triggered, this, &CKelvaneDlg::OpenAboutBox);
}

void CKelvaneDlg::BuildLayout() {
    const QPixmap strip(QStringLiteral(":/images/bitmap132.png"));
    m_picture = new QLabel(this);
    m_picture->setPixmap(strip);
    m_picture->setFixedWidth(strip.width());
    m_picture->setAlignment(Qt::AlignCenter);
    m_picture->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    m_picture->setStyleSheet(QStringLiteral("background-color: #0b2f5c;"));

    auto* body = new QHBoxLayout;
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(0);
    body->addWidget(m_picture);
    body->addWidget(m_sheet, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setMenuBar(m_menuBar);
    layout->addLayout(body, 1);
    layout->addWidget(m_statusBar);

    const QSize templateSize = DialogUnits(font(), 371, 258);
    resize(sizeHint().expandedTo(templateSize));
    setMinimumSize(minimumSizeHint().expandedTo(templateSize));
}

void CKelvaneDlg::Start() {
    if (!m_folderProblem.isEmpty()) ShowInfo(m_folderProblem, CInfoDlg::ButtonOk);
    StartLink();
    LoadSettings();
}

void CKelvaneDlg::OpenAboutBox() {
    CAboutDlg about(ProgramDirectory(), this);
    connect(&about, &CAboutDlg::ServiceCodeTyped, this, &CKelvaneDlg::RevealServiceButtons);
    about.exec();
}

void CKelvaneDlg::RevealServiceButtons() {
    m_pageParam->ShowGetParamsButton(true);
    m_pageBurn->RevealServiceButtons();
}

CWizardPage* CKelvaneDlg::PageAt(int index) const { return m_sheet->Page(index); }
