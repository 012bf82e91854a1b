#include "app/KelvaneDlg.h"

#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "app/AboutDlg.h"
#include "app/WizardJob.h"
#include "archive/SettingsFile.h"
#include "fdp/FdpEngine.h"
#include "fdp/FirmwareVersion.h"
#include "fdp/FormatBdAddr.h"
#include "fdp/LinkProtocol.h"
#include "fdp/PacketSocketDriver.h"
#include "fdp/ProgramFolders.h"
#include "fdp/param/ParamStore.h"
#include "fdp/param/ParamTasks.h"
#include "hci/DongleLink.h"
#include "pages/FdpEvent.h"
#include "pages/FirmSheet.h"
#include "pages/LoopTestChoice.h"
#include "pages/PageBurn.h"
#include "pages/PageCircleTest.h"
#include "pages/PageConfigIPnew.h"
#include "pages/PageFirmFile.h"
#include "pages/PageLink.h"
#include "pages/PageParam.h"
#include "pages/PagePasswd.h"
#include "pages/PageRegister.h"
#include "pages/PageWelcome.h"
#include "resources/strings/StringIds.h"
#include "widgets/ControlId.h"
#include "widgets/DialogStatusBar.h"
#include "widgets/DialogText.h"
#include "widgets/InfoDlg.h"

// The pictures are compiled into the UI library, a static library: register them
// explicitly, or the linker leaves them out.
static void InitResources() { Q_INIT_RESOURCE(kelvane); }

namespace {

// The caption of the window and of the program's message boxes, which keep it when the
// title adds the adapter and the target.
const QString kCaption = QStringLiteral("Kelvane");

constexpr std::uint8_t kProgramVersionWanted = 14;
constexpr unsigned kNoInterfaceId = 3009;
// The system reads the version answer after a fixed 100 ms. We wait for the request to
// end instead, so a busy machine still gets the real version (a version read as 0.0.0.0
// would let an older file through without the downgrade question); this only bounds the
// wait should the request hang.
constexpr int kVersionWaitCapMs = 2000;

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
        // No folder, or one refused: the wizard says so once it shows and works
        // without saving.
        std::string problem;
        if (!fdp::PrepareWorkFolder(folders, problem)) {
            m_folderProblem = QString::fromStdString(problem);
            folders.work.clear();
        }
    } else {
        folders.work = folders.install = m_options.programFolder;
    }
    std::string folder = folders.work.string();
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (!folder.empty()) folder += '/';
    SetProgramFolder(folder);
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
    // the pages they post to go away.
    if (!m_closed) ShutdownLink();
}

void CKelvaneDlg::BuildMenu() {
    m_menuBar = new QMenuBar(this);
    QMenu* file = m_menuBar->addMenu(DlgText("&File", "文件(&F)"));
    QAction* exit = file->addAction(DlgText("&Exit", "退出(&X)"));
    exit->setObjectName(QStringLiteral("menuExit"));
    connect(exit, &QAction::triggered, this, &QWidget::close);
    QMenu* help = m_menuBar->addMenu(DlgText("&Help", "帮助(&H)"));
    QAction* about = help->addAction(DlgText("&About Kelvane", "关于 Kelvane(&A)"));
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

int CKelvaneDlg::StartLink() {
    if (!fdp::CFdpGui::StartLink()) {
        // trace.txt or Target_Bt_Addr.txt cannot be created: the folder is at fault,
        // not the hardware, and the user is told which folder.
        m_linkUnavailable = QString::fromStdString(res::FormatString(res::IDS_FOLDER_NOT_WRITABLE, {ProgramFolder()}));
        ShowInfo(m_linkUnavailable, CInfoDlg::ButtonOk);
        return 0;
    }

    m_driver = std::make_unique<fdp::CPacketSocketDriver>();
    if (!m_options.interfaceName.empty()) m_driver->SetInterfaceFilter(m_options.interfaceName);
    m_engine = std::make_unique<fdp::CFdpEngine>();
    SetLink(m_engine.get(), m_driver.get());
    m_engine->Start(m_driver.get(), this);

    const int opened = OpenFirstAdapter();
    UpdateTitle();
    if (opened < 0) {
        // Why the adapter did not open (typically a missing privilege), in words the
        // user can act on.
        const QString message = QString::fromStdString(NoAdapterMessage("\r\n\r\n"));
        ShowInfo(message, CInfoDlg::ButtonOk);
        return 0;
    }

    m_paramStore = std::make_unique<param::CParamStore>();
    m_paramStore->Init(ProgramFolder().empty() ? std::string() : ProgramFolder() + "param.jdp", m_defaultFile);
    m_paramStore->LoadParam();
    return 1;
}

void CKelvaneDlg::ShutdownLink() {
    if (m_engine) m_engine->Stop();
    SetLink(nullptr, nullptr);
    m_engine.reset();
    m_driver.reset();
    m_paramStore.reset();
    fdp::CFdpGui::ShutdownLink();
}

int CKelvaneDlg::Notify(std::uint32_t message, std::uint32_t wParam, std::int32_t lParam) {
    QObject* target = nullptr;
    switch (message) {
    case fdp::WM_FDP_CONNECT: target = m_pageLink; break;
    case fdp::WM_FDP_DOWNLOAD:
    case fdp::WM_FDP_ERASE: target = m_pageBurn; break;
    default: break;
    }
    if (target) QCoreApplication::postEvent(target, new CFdpEvent(message, wParam, lParam));
    // Slows the worker so that the user interface keeps up with the posted events.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return 1;
}

void CKelvaneDlg::Report(unsigned stage, unsigned result, std::uint32_t position, std::uint32_t total) {
    fdp::CFdpGui::Report(stage, result, position, total);
    std::int32_t lParam = 0;
    if (m_reportFilter.Pass(stage, result, position, total, lParam))
        QCoreApplication::postEvent(m_pageBurn, new CFdpEvent(fdp::WM_FDP_REPORT, static_cast<std::uint8_t>(stage), lParam));
}

void CKelvaneDlg::OnRequestAccepted(std::uint8_t) { m_reportFilter.Forget(); }

void CKelvaneDlg::OnConnectResult(std::uint32_t wParam, std::int32_t) {
    QString text;
    bool dialog = true;
    switch (wParam) {
    case fdp::ConnectOk: {
        const fdp::MacAddress address = TargetAddress();
        TheWizardJob().connectedWith = FormatBdAddr(address);
        UpdateTitle();
        text = ResString(57671) + QString::fromStdString(TheWizardJob().connectedWith) + QStringLiteral("!");
        dialog = false;
        break;
    }
    case fdp::ConnectBadPassword: text = ResString(111); break;
    case fdp::ConnectTimeout: text = ResString(57670); break;
    case fdp::ConnectFlashUnsupported: text = ResString(57673); break;
    case fdp::ConnectVersionLow: text = ResString(57674); break;
    default:
        text = ResString(57675);
        fdp::CFdpGui::SetStatusText(text.toStdString());
        dialog = false;
        break;
    }
    SetStatusText(text);
    if (dialog) ShowInfo(text, CInfoDlg::ButtonOk);
    if (wParam != fdp::ConnectOk) return;

    // One line per connection in Target_Bt_Addr.txt: the address, a zero byte and the
    // target's program version.
    const std::string versionText = TargetVersion(kProgramVersionWanted).Text();
    std::string record = TheWizardJob().connectedWith;
    record += '\0';
    record += versionText;
    WriteAddressLine(reinterpret_cast<const std::uint8_t*>(record.data()), static_cast<std::uint8_t>(record.size()));
}

void CKelvaneDlg::OnAdapterMoved(int index) {
    fdp::CFdpGui::OnAdapterMoved(index);
    QMetaObject::invokeMethod(this, &CKelvaneDlg::UpdateTitle, Qt::QueuedConnection);
}

// The status help of the connection page: why a target that announced is not answered.
void CKelvaneDlg::OnLinkNotice(const std::string& text) {
    fdp::CFdpGui::OnLinkNotice(text);
    QMetaObject::invokeMethod(this, [this, line = QString::fromStdString(text)] { SetStatusText(line); },
                              Qt::QueuedConnection);
}

// With several adapters the technician sees which one the wizard uses, and once logged
// in, which target answered.
void CKelvaneDlg::UpdateTitle() {
    const QString adapter = QString::fromStdString(AdapterName());
    QString title = kCaption;
    if (!adapter.isEmpty()) {
        const bool connected = Engine() && Engine()->State() == fdp::StateConnected;
        title = connected ? DlgText("Kelvane - adapter %1, target %2", "Kelvane - 网卡 %1，设备 %2")
                                .arg(adapter, QString::fromStdString(FormatBdAddr(TargetAddress())))
                          : DlgText("Kelvane - adapter %1", "Kelvane - 网卡 %1").arg(adapter);
    }
    setWindowTitle(title);
}

int CKelvaneDlg::StartDownload(std::uint8_t kind, const std::string& path) {
    static constexpr const char* kTasks[] = {"firmware", "name and password", "DHCP and NAT", "loop test", "register"};
    const std::int32_t task = TheWizardJob().task;
    SetHistoryTask(task >= 0 && task < static_cast<std::int32_t>(std::size(kTasks)) ? kTasks[task] : "");
    if (kind == fdp::KindParam)
        SetHistoryFields(param::ChangedFieldNames(TheWizardJob().modifiedMask, TheWizardJob().registerMask));
    return fdp::CFdpGui::StartDownload(kind, path);
}

void CKelvaneDlg::WaitForJobEnd(std::uint8_t job, int capMs) {
    const auto running = [this, job] { return Engine() && Engine()->CurrentJob() == job; };
    if (!running()) return;
    QEventLoop loop;
    QTimer::singleShot(capMs, &loop, &QEventLoop::quit);
    // An earlier job's end may still be on its way: only the engine says this one ended.
    connect(this, &CKelvaneDlg::JobEnded, &loop, [&] {
        if (!running()) loop.quit();
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void CKelvaneDlg::OnJobEnd(std::uint8_t job, unsigned result) {
    if (job == fdp::JobTransfer) m_transferResult = result;
    QMetaObject::invokeMethod(this, &CKelvaneDlg::JobEnded, Qt::QueuedConnection);
}

fdp::FirmwareVersion CKelvaneDlg::TargetVersion(std::uint8_t wanted, bool* answered) {
    // Shared with the engine, which may still write the answer after we stop waiting.
    const fdp::SharedBuffer block = fdp::MakeBuffer(fdp::kVersionBlockLen);
    (*block)[0] = wanted;
    m_transferResult = fdp::FdpTimeout;
    const bool accepted = GetTargetVersion(block) == 0;
    const std::vector<std::uint8_t> answer =
        accepted ? WaitForAnswer(fdp::JobTransfer, kVersionWaitCapMs, block) : *block;
    const fdp::FirmwareVersion version = fdp::FirmwareVersion::FromAnswer(answer.data(), wanted);
    const bool given = accepted && m_transferResult == fdp::FdpOk;
    // A version the target gave goes into the update history with a download to its area.
    if (given) SetTargetVersion(wanted == kProgramVersionWanted ? fdp::KindProgram : fdp::KindBoot, version.Text());
    if (answered) *answered = given;
    return version;
}

std::vector<std::uint8_t> CKelvaneDlg::WaitForAnswer(std::uint8_t job, int capMs, const fdp::SharedBuffer& buffer) {
    WaitForJobEnd(job, capMs);
    return Engine() ? Engine()->Protocol()->CopyAnswer(buffer) : *buffer;
}

void CKelvaneDlg::Pause(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

// The pages' records in the order of the file.
std::array<archive::SettingsRecord*, 8> CKelvaneDlg::SettingsRecords() const {
    return {m_pagePasswd, m_pageLink, m_pageParam, m_pageRegister, m_pageFirmFile, m_pageConfigIp, m_pageCircleTest,
            m_pageBurn};
}

archive::SettingsUi CKelvaneDlg::SettingsQuestions() {
    archive::SettingsUi ui;
    ui.reportError = [this](const std::string& description) {
        QMessageBox::warning(this, kCaption, QString::fromStdString(description), QMessageBox::Ok);
    };
    ui.askRetry = [this] {
        return QMessageBox::critical(this, kCaption, QString::fromUtf8(archive::kSettingsWriteError.data(),
                                                                           static_cast<qsizetype>(archive::kSettingsWriteError.size())),
                                     QMessageBox::Retry | QMessageBox::Cancel) == QMessageBox::Retry;
    };
    return ui;
}

void CKelvaneDlg::LoadSettings() {
    if (m_settingsPath.isEmpty()) return;   // no folder for the files
    const auto records = SettingsRecords();
    archive::LoadSettings(std::filesystem::path(m_settingsPath.toStdString()), records, SettingsQuestions());
}

void CKelvaneDlg::SaveSettings() {
    if (m_settingsPath.isEmpty()) return;
    const auto records = SettingsRecords();
    archive::SaveSettings(std::filesystem::path(m_settingsPath.toStdString()),
                          std::filesystem::path(m_backupPath.toStdString()), records, SettingsQuestions());
}

void CKelvaneDlg::CloseWizard() {
    if (m_closed) return;
    m_closed = true;
    ShutdownLink();
    // The dongle outlives the window otherwise: its reader would go on holding the
    // controller and posting messages to a window and an application that are gone.
    TheDongleLink().CloseDongle();
    SaveSettings();
}

bool CKelvaneDlg::FinishWizard() {
    if (!ConfirmStopDownload()) return false;
    CloseWizard();
    done(0);
    return true;
}

// A download stopped while the target erases or burns may leave it without a working
// image, so every way out while one runs asks first (the close box, Escape, File > Exit,
// Finish, Back); No keeps the download running.
bool CKelvaneDlg::ConfirmStopDownload() {
    if (m_closed || !m_pageBurn->DownloadRunning()) return true;
    return ShowInfo(DlgText("A download to the target is still running.\r\nStopping it now, while the target erases or "
                            "burns its flash, can leave the target unusable.\r\nDo you want to stop the download and "
                            "close Kelvane?",
                            "向设备的下载仍在进行中。\r\n如果在设备擦除或烧写闪存时停止下载，设备可能无法再使用。\r\n"
                            "您确定要停止下载并关闭 Kelvane 吗？"),
                    CInfoDlg::ButtonYes | CInfoDlg::ButtonNo) == CInfoDlg::ResultYes;
}

void CKelvaneDlg::closeEvent(QCloseEvent* event) {
    if (!ConfirmStopDownload()) {
        event->ignore();
        return;
    }
    CloseWizard();
    event->accept();
}

// Escape takes the same way out as the close box, so the link is always shut down and
// the settings saved.
void CKelvaneDlg::reject() { close(); }

void CKelvaneDlg::SetStatusText(const QString& text) {
    if (text.isNull()) return;
    m_statusBar->SetPaneText(text);
}

QString CKelvaneDlg::StatusPaneText() const { return m_statusBar->PaneText(); }

void CKelvaneDlg::ShowStatusText(int controlId) {
    QString text;
    if (controlId == CDialogStatusBar::kControlId) {
        text = QString::fromStdString(resultText());
    } else {
        if (controlId > 0) text = ResString(static_cast<unsigned>(controlId));
        if (text.isEmpty()) text = QString::fromStdString(statusText());
    }
    SetStatusText(text);
}

// The main window gives 0; a part of a composite control (a combo box's list, an
// edit's viewport) gives the control's id; any other window its own id, which is -1
// for controls without one.
int CKelvaneDlg::ControlIdAt(QWidget* widget) const {
    while (widget && widget != this) {
        const int id = ControlIdOf(widget);
        if (id != kNoControlId) return id;
        QWidget* parent = widget->parentWidget();
        const bool part = qobject_cast<QAbstractScrollArea*>(parent) || qobject_cast<QComboBox*>(parent) ||
                          qobject_cast<QAbstractSpinBox*>(parent);
        if (!part) return kNoControlId;
        widget = parent;
    }
    return 0;
}

// The help follows the window under the cursor on every move. Enter events would not
// do: a parent gets none when the pointer comes back to it from a child. Every move
// over the main window reaches its native window first, whichever child is under it.
bool CKelvaneDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove && watched == windowHandle()) {
        const QPoint position = static_cast<QMouseEvent*>(event)->position().toPoint();
        QWidget* under = childAt(position);
        ShowStatusText(ControlIdAt(under ? under : this));
    }
    return QDialog::eventFilter(watched, event);
}

int CKelvaneDlg::ShowInfo(const QString& message, int buttonMask, QWidget* parent) {
    CInfoDlg dialog(message, parent ? parent : this, Qt::black);
    dialog.SetButtons(buttonMask);
    return dialog.Run();
}

void CKelvaneDlg::ShowMessageBox(const std::string& text) {
    QMessageBox::warning(this, kCaption, QString::fromStdString(text), QMessageBox::Ok);
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

QString CKelvaneDlg::LinkUnavailableText() const {
    return m_linkUnavailable.isEmpty() ? ResString(kNoInterfaceId) : m_linkUnavailable;
}

CWizardPage* CKelvaneDlg::PageAt(int index) const { return m_sheet->Page(index); }
