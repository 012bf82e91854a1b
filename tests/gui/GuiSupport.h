// Helpers of the GUI tests: a watcher that answers the guide dialogs (which run
// modally inside the handler that shows them), the test bench with the simulated
// target, and a scratch program folder.
#pragma once

#include <QFile>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>

#include "fdp/LinkEvent.h"

class CKelvaneDlg;

// Answers every guide dialog and message box that comes up with its Ok (or the given
// answer) and remembers their messages.
class DialogWatcher : public QObject {
    Q_OBJECT
public:
    DialogWatcher();
    QStringList messages;
    // The captions of the message boxes (not of the guide dialogs), in order.
    QStringList captions;
    // The informative texts under the message boxes' messages, in order.
    QStringList details;
    // The button texts of each message box, joined by " | " in the box's order.
    QStringList buttons;
    // What probe() said while each dialog was up (e.g. the main window's status bar,
    // which the mouse may change once the dialog has gone).
    std::function<QString()> probe;
    QStringList probed;
    // The guide dialog's answer to a message (CInfoDlg result); unset: Ok.
    std::function<int(const QString& message)> answer;
    // While set, dialogs are left alone (a test that answers one itself).
    bool paused = false;

private:
    void Poll();
    QTimer m_timer;
};

// The network bench: the test process enters the PC side namespace at start, the
// simulator runs in the target side namespace.
namespace bench {
// Enters the PC side's namespace when the bench is up and we may (root). Call from
// main before any thread starts.
void EnterPcSide();
bool Available();
// Why the bench is not usable; QSKIP outside CI, QFAIL in CI.
QString Missing();
bool InCi();
// Runs scripts/bench with these arguments ("unplug" pulls the target's cable out, "up"
// plugs it in again); true when it succeeded.
bool Run(const QStringList& arguments);
inline constexpr const char* kPcInterface = "kv0";
}  // namespace bench

// First in a test function or its init(): a bench that cannot be used fails the test
// in CI, where it must be there, and skips it elsewhere. A macro, because QSKIP and
// QFAIL end only the function they are written in: inside a helper the test would go
// on, and fail, under a SKIP line.
#define KELVANE_REQUIRE_BENCH()                                            \
    do {                                                                   \
        if (!bench::Available()) {                                         \
            if (bench::InCi()) QFAIL(qPrintable(bench::Missing()));        \
            QSKIP(qPrintable(bench::Missing()));                           \
        }                                                                  \
    } while (false)

// The path of a program of the build, e.g. "kelvane".
QString BuiltProgram(const char* name);

// kelvane-nap-sim on the target side, stopped when the object goes away.
class SimulatedTarget {
public:
    ~SimulatedTarget();
    // On the target side's interface (kv1; kvt1 and kvt2 with `scripts/bench two up`).
    bool Start(const QStringList& extraArguments = {}, const QString& interfaceName = QStringLiteral("kv1"));
    void Stop();

private:
    QProcess m_process;
};

// An empty program folder with the parameter files of the build.
class ProgramFolder {
public:
    ProgramFolder();
    QString Path() const { return m_dir.path() + QLatin1Char('/'); }
    QString File(const QString& name) const { return m_dir.filePath(name); }
    QByteArray Read(const QString& name) const;

private:
    QTemporaryDir m_dir;
};

// Takes capabilities out of the calling thread's effective set while it lives (threads
// started meanwhile inherit the reduced set), so that a test running as root meets
// what a user meets: a folder without write permission (CAP_DAC_OVERRIDE), raw frames
// refused (CAP_NET_RAW). Restores the set at its end.
class DroppedCapabilities {
public:
    explicit DroppedCapabilities(std::initializer_list<int> capabilities);
    ~DroppedCapabilities();
    DroppedCapabilities(const DroppedCapabilities&) = delete;
    DroppedCapabilities& operator=(const DroppedCapabilities&) = delete;

private:
    std::uint32_t m_saved[2] = {};
    bool m_changed = false;
};

// A program folder without write permission, as a user meets it: mode r-x and, for a
// test running as root, no CAP_DAC_OVERRIDE on this thread. Restored at its end.
class UnwritableFolder {
public:
    explicit UnwritableFolder(const ProgramFolder& folder);
    ~UnwritableFolder();

private:
    QString m_path;
    QFile::Permissions m_permissions;
    std::unique_ptr<DroppedCapabilities> m_user;
};

// The real main window over the folder, restricted to the interface, shown and
// started as the program starts it; allTasks as with --all-tasks.
// dongle as with --dongle.
std::unique_ptr<CKelvaneDlg> OpenMainWindow(const ProgramFolder& folder, const char* interfaceName,
                                            bool allTasks = false, const std::string& dongle = {});

// A stage report told by its number (10 x step + phase) the way the link tells it: through
// the window's front end, which makes its text and hands it to the window. A number that
// names no stage tells nothing: false.
bool TellStage(CKelvaneDlg& window, unsigned number, unsigned result, quint32 position = 0, quint32 total = 0);
// The report the link makes of a stage told by number, for handing to the download page
// directly: value is a running transfer's position (of 1000), else the step's result; the
// text is the one the window's front end gives it now (the adapter-lost words included).
fdp::StageReport LinkStageReport(CKelvaneDlg& window, unsigned number, quint32 value);

// Bytes of a settings record, for comparing kelvane.ini.
QByteArray Le32(qint32 value);
QByteArray Text(const QByteArray& text);
