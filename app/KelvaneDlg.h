// The program's one top-level window: picture strip, wizard sheet with its nine pages,
// status bar and menu. It is also the device link's request front end (CFdpGui): its
// start-up routine opens the link, its Notify and Report turn the engine's callbacks
// into events posted to the connection and download pages, and OnConnectResult tells
// the user the outcome of a connection attempt.
//
// Threads: Notify and Report run on the engine's worker thread and only post events;
// everything else runs on the user-interface thread.
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
#include <optional>
#include <string>

#include "archive/SettingsFile.h"
#include "fdp/FdpGui.h"
#include "fdp/FirmwareVersion.h"
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

namespace fdp { class CFdpEngine; class CPacketSocketDriver; }
namespace param { class CParamStore; }

class CKelvaneDlg : public QDialog, public fdp::CFdpGui, public IWizardHost {
    Q_OBJECT
public:
    struct Options {
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

    // CFdpGui
    int StartLink() override;
    void ShutdownLink() override;
    int Notify(std::uint32_t message, std::uint32_t wParam, std::int32_t lParam) override;
    void OnConnectResult(std::uint32_t wParam, std::int32_t lParam) override;
    void OnTransferResult(std::uint32_t, std::int32_t) override {}
    void OnTraceResult(std::uint32_t, std::int32_t) override {}
    void OnDownloadResult(std::uint32_t, std::int32_t) override {}
    void OnEraseResult(std::uint32_t, std::int32_t) override {}
    void OnParamsResult(std::uint32_t, std::int32_t) override {}
    void Report(unsigned stage, unsigned result, std::uint32_t position, std::uint32_t total) override;
    // Worker thread: keeps a transfer's result and wakes a WaitForJobEnd, which then
    // asks the engine again.
    void OnJobEnd(std::uint8_t job, unsigned result) override;
    void OnAdapterMoved(int index) override;
    // The adapter in use went away: the wizard is no longer connected.
    void OnAdapterLost(const std::string& adapter) override;
    // A new download or request: the report filter forgets the last run's pair, so that
    // a retry failing as the run before it is still reported.
    void OnRequestAccepted(std::uint8_t job) override;
    void OnLinkNotice(const std::string& text) override;
    // Receiver thread: the connection and download pages name the other target.
    void OnOtherTarget(const fdp::MacAddress& address) override;
    // Worker thread: the connection page lists the targets heard for the user to choose.
    void OnSeveralTargets(const std::vector<fdp::HeardTarget>& targets) override;
    // Worker thread: the download page's report gets the version line.
    void OnBurntVersion(std::uint8_t kind, std::optional<fdp::FirmwareVersion> version) override;
    // Names the wizard's task in the update history, then hands the download on.
    int StartDownload(std::uint8_t kind, const std::string& path) override;

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

    // IWizardHost: the window is its pages' front end and their messages' parent.
    fdp::CFdpGui& FrontEnd() override { return *this; }
    QWidget* Window() override { return this; }

    CFirmSheet* Sheet() const { return m_sheet; }
    CWizardPage* PageAt(int index) const;
    param::CParamStore* ParamStore() const override { return m_paramStore.get(); }
    QString ProgramDirectory() const override { return QString::fromStdString(ProgramFolder()); }
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
    void JobEnded();

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void ShowMessageBox(const std::string& text) override;

private:
    static constexpr std::uint8_t kProgramVersionWanted = 14;

    void BuildMenu();
    void BuildLayout();
    int ControlIdAt(QWidget* widget) const;
    void CloseWizard();
    // Hands the latest transfer position to the download page (user-interface thread).
    void ForwardProgress();

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

    std::unique_ptr<fdp::CPacketSocketDriver> m_driver;
    std::unique_ptr<fdp::CFdpEngine> m_engine;
    std::unique_ptr<param::CParamStore> m_paramStore;

    // The last report posted in this run: a repeat of it is not posted again.
    fdp::CReportFilter m_reportFilter;
    // Transfer progress is coalesced: at most one hand-on is on its way to the download
    // page, and it carries the latest position when it gets there. At any pace the
    // window then handles no more progress events than it can show.
    std::atomic<bool> m_progressPending{false};
    std::atomic<std::int32_t> m_progressPosition{0};

    // Set when the link could not start because its files cannot be created.
    QString m_linkUnavailable;
    QString m_folderProblem;   // why the working files are not kept, or empty

    bool m_closed = false;
    // The result of the last transfer job (worker thread): a version is only taken as
    // read when its request succeeded.
    std::atomic<unsigned> m_transferResult{0};
};
