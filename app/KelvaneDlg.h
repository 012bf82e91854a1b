// The program's one top-level window: picture strip, wizard sheet with its nine pages,
// status bar and menu. It holds the device link's request front end (CRequestFrontEnd) and is the
// sink of the link's events: its start-up routine opens the link, OnLinkEvent hands the
// events to the connection and download pages, and OnConnectResult tells the user the
// outcome of a connection attempt.
//
// Threads: OnLinkEvent runs on the link's threads (or a request's) and only copies the
// event and hands it on; everything else runs on the user-interface thread.
//
// Its sources by job: KelvaneDlg.cpp builds the window; KelvaneDlgLink.cpp starts and
// shuts down the link; KelvaneDlgEvents.cpp routes the link's events to the pages;
// KelvaneDlgWaits.cpp waits for the link's answers; KelvaneDlgSettings.cpp reads and
// writes kelvane.ini; KelvaneDlgClose.cpp the ways out; KelvaneDlgStatus.cpp the status
// help and the messages.
#pragma once

#include <QDialog>
#include <QString>
#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "archive/SettingsFile.h"
#include "fdp/RequestFrontEnd.h"
#include "fdp/LinkBroker.h"
#include "fdp/FirmwareVersion.h"
#include "fdp/LinkEvent.h"
#include "fdp/ReportFilter.h"
#include "pages/WizardHost.h"

class QLabel;
class QMenuBar;
class CDialogStatusBar;
class CFirmSheet;
class CWizardPage;
class CPageWelcome;
class CPagePasswd;
class CPageLink;
class CPageParam;
class CPageRegister;
class CPageFirmFile;
class CPageConfigIPnew;
class CPageCircleTest;
class CPageBurn;
struct WizardJob;

namespace fdp { class CLinkSession; class CPacketSocketDriver; }
namespace param { class CParamStore; }

class CKelvaneDlg : public QDialog, public IWizardHost, public fdp::ILinkEventSink {
    Q_OBJECT
public:
    struct Options {
        // The link broker main started; nothing: the driver starts one of its own.
        std::optional<fdp::LinkBrokerHandle> broker;
        // Restricts adapter discovery to this interface (--interface); empty: all.
        std::string interfaceName;
        // The loop test's dongle (--dongle): hciN, /dev/tty... or unix:PATH; empty: none
        // named.
        std::string dongleDevice;
        // The folder of kelvane.ini, trace.txt, param.jdp ...; empty: the executable's.
        std::string programFolder;
        // Offer the DHCP/NAT, register and loop test tasks too (--all-tasks); they are
        // hidden by default.
        bool allTasks = false;
        // Log in only to the target of this address (--target); nothing: the first to
        // announce.
        std::optional<fdp::MacAddress> target;
        // Pause after each transfer progress report (--pace-ms): the pace the wizard has
        // always taken, which targets are known to keep up with.
        unsigned paceMs = 10;
    };

    explicit CKelvaneDlg(const Options& options, QWidget* parent = nullptr);
    ~CKelvaneDlg() override;

    // The end of initialisation: start the link, then read kelvane.ini into the pages.
    // Shows the guide dialog when no adapter opens. Call once, after show().
    void Start();

    // The link's files, driver and engine, then the first adapter that opens; 0 when the
    // link cannot be used (the user has been told why).
    int StartLink();
    void ShutdownLink();
    // Any thread: takes the event in (a transfer's result for the waits, the report
    // filter's memory) and hands a copy on to the window's thread.
    void OnLinkEvent(const fdp::LinkEvent& event) override;
    // Names the wizard's task in the update history, then hands the download on.
    int StartDownload(std::uint8_t kind, const std::string& path) override;
    // The connection page's listen ended: the status text, the message, and once
    // connected the title and the line of Target_Bt_Addr.txt.
    void OnConnectResult(fdp::ConnectResult result) override;

    void LoadSettings();
    void SaveSettings();
    std::array<archive::SettingsRecord*, 8> SettingsRecords() const;
    archive::SettingsUi SettingsQuestions();
    // The download page's Finish: shut the link down, save the settings, end. While a
    // download runs it asks first, as closing does; false when the user chose to stay.
    bool FinishWizard() override;
    // While a download runs, asks whether to stop it and close: true when nothing runs
    // or the user answered Yes.
    bool ConfirmStopDownload();

    // Puts the text into the status bar's pane; a null text does nothing.
    void SetStatusText(const QString& text);
    // The status help text of a control id: resultText for the status bar, the string
    // of the id when there is one, else statusText.
    void ShowStatusText(int controlId);
    QString StatusPaneText() const;
    // The caption with the adapter in use and, once connected, the target's address.
    void UpdateTitle();

    // Why a link request is refused when the link did not start: 3009 (no interface),
    // or the program folder that cannot be written.
    QString LinkUnavailableText() const override;

    // Shows the guide dialog modally over parent (this window when null).
    int ShowInfo(const QString& message, int buttonMask, QWidget* parent = nullptr) override;

    // Waits, painting but ignoring input, until the engine no longer runs the job
    // (an FdpJob) or capMs have passed.
    void WaitForJobEnd(std::uint8_t job, int capMs);
    // Asks the target for its boot (13) or program (14) version and waits for the
    // answer the same way; 0.0.0.0 when none came. answered, when given, tells whether
    // the target gave its version: false when the request was refused (busy, not
    // connected), failed or timed out.
    fdp::FirmwareVersion TargetVersion(std::uint8_t wanted, bool* answered = nullptr) override;
    // The same wait for a request whose answer goes into buffer, then a copy of what
    // has arrived: the engine may still be writing it when the wait gives up.
    std::vector<std::uint8_t> WaitForAnswer(std::uint8_t job, int capMs, const fdp::SharedBuffer& buffer) override;
    // Lets ms pass the same way: painting, posted events handled, input ignored.
    void Pause(int ms) override;

    void OpenAboutBox();
    // The service code was typed: show and enable the hidden service buttons.
    void RevealServiceButtons();

    // IWizardHost: the window holds its pages' front end and is their messages' parent.
    fdp::CRequestFrontEnd& FrontEnd() override { return m_frontEnd; }
    QWidget* Window() override { return this; }

    CFirmSheet* Sheet() const { return m_sheet; }
    CWizardPage* PageAt(int index) const;
    param::CParamStore* ParamStore() const override { return m_paramStore.get(); }
    QString ProgramDirectory() const override { return QString::fromStdString(m_frontEnd.ProgramFolder()); }
    QString SettingsPath() const { return m_settingsPath; }
    const std::string& DongleDevice() const override { return m_options.dongleDevice; }
    const std::string& InterfaceList() const override { return m_options.interfaceName; }
    QString BackupPath() const { return m_backupPath; }
    CDialogStatusBar* StatusBar() const { return m_statusBar; }
    QMenuBar* MenuBar() const { return m_menuBar; }

    // The picture strip and window icon of the resources.
    static constexpr const char* kIconPath = ":/images/kelvane.png";
    // The caption of the window and of the program's message boxes, which keep it when
    // the title adds the adapter and the target.
    static constexpr const char* kCaption = "Kelvane";

signals:
    // A job of the link ended (the waits then ask the engine again).
    void JobEnded();
    // A stage report of a download for the download page, and the end of a listen for
    // the connection page, on the window's thread in the order the link told them.
    void StageReported(const fdp::StageReport& report);
    void ListenEnded(const fdp::JobEnded& ended);

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildMenu();
    void BuildLayout();
    int ControlIdAt(QWidget* widget) const;
    void CloseWizard();
    // What each of the link's events changes, and to whom it is handed on (the thread
    // OnLinkEvent runs on).
    void TakeLinkEvent(const fdp::StageReport& report);
    void TakeLinkEvent(const fdp::JobEnded& ended);
    void TakeLinkEvent(const fdp::RequestAccepted& accepted);
    void TakeLinkEvent(const fdp::AdapterMoved& moved);
    void TakeLinkEvent(const fdp::AdapterLost& lost);
    void TakeLinkEvent(const fdp::OtherTargetHeard& other);
    void TakeLinkEvent(const fdp::SeveralTargetsHeard& several);
    void TakeLinkEvent(const fdp::VersionAfterBurn& after);
    void TakeLinkEvent(const fdp::LinkNotice& notice);
    void TakeLinkEvent(const fdp::LinkWarning& warning);
    // Hands the latest transfer report to the download page (user-interface thread).
    void ForwardProgress();
    // A message the link gives, in a message box.
    void ShowMessageBox(const std::string& text);

    Options m_options;
    QString m_backupPath;
    QString m_settingsPath;
    std::string m_defaultFile;   // default.jdp: beside the program, or in the installation
    CFirmSheet* m_sheet = nullptr;
    QMenuBar* m_menuBar = nullptr;
    CDialogStatusBar* m_statusBar = nullptr;
    QLabel* m_picture = nullptr;

    CPageBurn* m_pageBurn = nullptr;
    CPageRegister* m_pageRegister = nullptr;
    CPageCircleTest* m_pageCircleTest = nullptr;
    CPageConfigIPnew* m_pageConfigIp = nullptr;
    CPageLink* m_pageLink = nullptr;
    CPagePasswd* m_pagePasswd = nullptr;
    CPageWelcome* m_pageWelcome = nullptr;
    CPageFirmFile* m_pageFirmFile = nullptr;
    CPageParam* m_pageParam = nullptr;

    // Declared before the link it fronts: the engine and the driver go first.
    fdp::CRequestFrontEnd m_frontEnd;
    std::unique_ptr<fdp::CPacketSocketDriver> m_driver;
    std::unique_ptr<fdp::CLinkSession> m_engine;
    std::unique_ptr<param::CParamStore> m_paramStore;

    // The last report handed on in this run: a repeat of it is not handed on again.
    fdp::CReportFilter m_reportFilter;
    // Transfer progress is coalesced: at most one hand-on is on its way to the download
    // page, and it carries the latest report when it gets there. At any pace the window
    // then handles no more progress events than it can show.
    std::atomic<bool> m_progressPending{false};
    std::mutex m_progressLock;
    fdp::StageReport m_progress;   // the latest transfer report, under m_progressLock

    // Set when the link could not start because its files cannot be created.
    QString m_linkUnavailable;
    QString m_folderProblem;   // why the working files are not kept, or empty

    bool m_closed = false;
    // The result of the last transfer job (worker thread): a version is only taken as
    // read when its request succeeded.
    std::atomic<unsigned> m_transferResult{0};
};
