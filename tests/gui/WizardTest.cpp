// The real main window driven through its flows: the first pages, the guide dialogs,
// the status help, kelvane.ini, the About box's service code, the link event routing,
// and, on the network bench, a connection to the simulated target.
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>
#include <algorithm>
#include <array>
#include <linux/capability.h>
#include <memory>

#include "app/AboutDlg.h"
#include "app/KelvaneDlg.h"
#include "fdp/RequestFrontEnd.h"
#include "fdp/FdpTypes.h"
#include "pages/FirmSheet.h"
#include "pages/PageBurn.h"
#include "pages/PageLink.h"
#include "pages/PageParam.h"
#include "pages/PagePasswd.h"
#include "pages/WizardJob.h"
#include "resources/strings/StringTable.h"
#include "tests/gui/GuiSupport.h"
#include "widgets/ControlId.h"
#include "widgets/DialogStatusBar.h"
#include "widgets/FontStatic.h"

namespace {

constexpr int kConnectWaitMs = 40000;   // the listen waits up to 30 s for an announce
const char* const kNoInterface = "kvnone";

QString Res(unsigned id) { return QString::fromStdString(res::LoadString(id)); }

// Records the stage reports the window hands to the download page: the stage's number
// (10 x step + phase) and, for a running transfer, the position reached (within the
// total), else the result.
class EventLog : public QObject {
public:
    explicit EventLog(CKelvaneDlg& window) {
        connect(&window, &CKelvaneDlg::StageReported, this, [this](const fdp::StageReport& report) {
            const quint32 value =
                report.stage.IsTransferring() ? std::min(report.position, report.total) : report.result;
            reports.append({report.stage.Number(), static_cast<qint32>(value)});
        });
    }
    QList<QPair<quint32, qint32>> reports;
};

// kelvane.ini as a first run writes it, with the password record and the connection
// page's radio values (name/password, register, firmware, DHCP/NAT, loop test) given.
QByteArray Settings(const QByteArray& passwordRecord, const std::array<qint32, 5>& tasks,
                    const QByteArray& summary = {}) {
    QByteArray bytes = passwordRecord;
    for (qint32 value : tasks) bytes += Le32(value);
    return bytes + Text("") + Text("") + Text("")                                 // name and password
           + Text("") + Text("") + Text("") + Text("") + Text("")                // register
           + Le32(0) + Text("") + Text("")                                       // firmware file
           + Le32(-1) + Le32(-1) + Le32(-1) + Le32(-1) + Le32(-1) + Le32(-1) + Le32(1) + Le32(0)  // loop test
           + Text(summary);                                                      // download
}

// A point of the widget where none of its children is.
QPoint BarePoint(QWidget* widget) {
    for (int y = widget->height() - 4; y > 0; y -= 4) {
        for (int x = 4; x < widget->width(); x += 4) {
            if (!widget->childAt(x, y)) return {x, y};
        }
    }
    return {};
}

}  // namespace

class WizardTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<CKelvaneDlg> Open(const ProgramFolder& folder, const char* interfaceName) {
        return OpenMainWindow(folder, interfaceName);
    }
    static CFirmSheet* Sheet(CKelvaneDlg& window) { return window.Sheet(); }
    static void Next(CKelvaneDlg& window) { QTest::mouseClick(window.Sheet()->NextButton(), Qt::LeftButton); }
    static void Back(CKelvaneDlg& window) { QTest::mouseClick(window.Sheet()->BackButton(), Qt::LeftButton); }
    static CPagePasswd* Passwd(CKelvaneDlg& window) { return static_cast<CPagePasswd*>(window.PageAt(PagePasswdIndex)); }
    static CPageLink* Link(CKelvaneDlg& window) { return static_cast<CPageLink*>(window.PageAt(PageLinkIndex)); }
    // Back, Next, Finish as enabled and shown now.
    static QString Buttons(CKelvaneDlg& window) {
        CFirmSheet* sheet = window.Sheet();
        QString shown;
        if (sheet->BackButton()->isEnabled()) shown += QStringLiteral("B");
        if (!sheet->NextButton()->isHidden() && sheet->NextButton()->isEnabled()) shown += QStringLiteral("N");
        if (!sheet->FinishButton()->isHidden() && sheet->FinishButton()->isEnabled()) shown += QStringLiteral("F");
        return shown;
    }
    // The connection page listening, then the given connection result as the link tells
    // it; returns when the page has taken it.
    void PostConnectResult(CKelvaneDlg& window, std::uint32_t result) {
        TheWizardJob().linkState = LinkListening;
        Sheet(window)->SetActivePage(PageLinkIndex);
        QCOMPARE(Buttons(window), QString());
        window.FrontEnd().Publish(fdp::JobEnded{fdp::JobListen, result, 0});
        QTRY_VERIFY(TheWizardJob().linkState != LinkListening);
    }
    // Password page, Next, until the connection page shows the outcome.
    void ConnectWith(CKelvaneDlg& window, const QString& password) {
        Next(window);
        QCOMPARE(Sheet(window)->ActiveIndex(), int(PagePasswdIndex));
        Passwd(window)->PasswordEdit()->setText(password);
        Next(window);
        QCOMPARE(Sheet(window)->ActiveIndex(), int(PageLinkIndex));
    }

private slots:
    void init() {
        TheWizardJob() = WizardJob{};
        CAboutDlg::ResetCodeProgress();
    }

    void opensOnWelcomeAndRefusesNextWithoutAdapter() {
        DialogWatcher watcher;
        ProgramFolder folder;
        auto window = Open(folder, kNoInterface);
        // The packet driver's reason follows the system's text, from the string table.
        QCOMPARE(watcher.messages, QStringList{Res(3008) + QStringLiteral("\r\n\r\nThere is no Ethernet interface named kvnone.")});
        QCOMPARE(window->FrontEnd().AdapterIndex(), -1);

        QCOMPARE(Sheet(*window)->ActiveIndex(), int(PageWelcomeIndex));
        QCOMPARE(Buttons(*window), QStringLiteral("N"));
        QVERIFY(Sheet(*window)->CancelButton()->isHidden());
        auto* guide = window->PageAt(PageWelcomeIndex)->findChild<QPlainTextEdit*>();
        QVERIFY(guide->isReadOnly());
        QVERIFY(guide->toPlainText().contains(QStringLiteral("General steps:")));

        Next(*window);
        QCOMPARE(Sheet(*window)->ActiveIndex(), int(PagePasswdIndex));
        QCOMPARE(Buttons(*window), QStringLiteral("BN"));
        Back(*window);
        QCOMPARE(Sheet(*window)->ActiveIndex(), int(PageWelcomeIndex));
        QCOMPARE(Buttons(*window), QStringLiteral("N"));
        Next(*window);

        Next(*window);
        QCOMPARE(watcher.messages.size(), 2);
        QCOMPARE(watcher.messages[1], Res(3009));
        QCOMPARE(Sheet(*window)->ActiveIndex(), int(PagePasswdIndex));
        QCOMPARE(TheWizardJob().linkState, int(LinkNotConnected));
        window->close();
    }

    // Without the right to capture raw frames the user is told the remedy.
    void rawFramesRefusedNamesTheSetcapRemedy() {
        KELVANE_REQUIRE_BENCH();
        DialogWatcher watcher;
        ProgramFolder folder;
        {
            DroppedCapabilities unprivileged{CAP_NET_RAW, CAP_NET_ADMIN};
            auto window = Open(folder, bench::kPcInterface);
            QCOMPARE(window->FrontEnd().AdapterIndex(), -1);
            window->close();
        }
        QCOMPARE(watcher.messages.value(0),
                 Res(3008) + QStringLiteral("\r\n\r\nOpening kv0 needs the right to send and capture raw frames. Give "
                                            "the program that right for good with this command, or run it as root: "
                                            "sudo setcap cap_net_raw+ep \"") +
                     QCoreApplication::applicationFilePath() + QStringLiteral("\""));
    }

    // trace.txt cannot be created in a folder without write permission: the user is
    // told which folder, at start and when Next on the password page is refused, not
    // to check the hardware.
    void unwritableProgramFolderIsNamed() {
        DialogWatcher watcher;
        ProgramFolder folder;
        {
            UnwritableFolder unwritable(folder);
            auto window = Open(folder, kNoInterface);
            const QString text = QStringLiteral("The folder ") + folder.Path() +
                                 QStringLiteral(" cannot be written. The wizard keeps trace.txt and Target_Bt_Addr.txt "
                                                "there and cannot talk to the target without them. Give the folder "
                                                "write permission, or run the program from a folder you may write to.");
            QCOMPARE(watcher.messages, QStringList{text});
            Next(*window);
            Next(*window);
            QCOMPARE(watcher.messages.value(1), text);
            QCOMPARE(Sheet(*window)->ActiveIndex(), int(PagePasswdIndex));
            QVERIFY(!QFile::exists(folder.File(QStringLiteral("trace.txt"))));
            window->close();   // the settings cannot be saved either; that is asked about
        }
    }

    // --dongle is accepted (the loop test's dongle) and listed with --interface.
    void commandLineOptions() {
        struct Case { QStringList arguments; int exitCode; QString output; };
        const Case cases[] = {
            {{QStringLiteral("--dongle"), QStringLiteral("hci0"), QStringLiteral("--help")}, 0, QStringLiteral("--dongle DEVICE")},
            {{QStringLiteral("--help")}, 0, QStringLiteral("--interface LIST")},
            {{QStringLiteral("--dongle")}, 1, QStringLiteral("option --dongle needs a value")},
            {{QStringLiteral("--donkey"), QStringLiteral("x")}, 1, QStringLiteral("unknown option --donkey")},
        };
        for (const Case& c : cases) {
            QProcess kelvane;
            kelvane.setProcessChannelMode(QProcess::MergedChannels);
            kelvane.start(BuiltProgram("kelvane"), c.arguments);
            QVERIFY(kelvane.waitForFinished(10000));
            const QString output = QString::fromLocal8Bit(kelvane.readAll());
            QCOMPARE(kelvane.exitCode(), c.exitCode);
            QVERIFY2(output.contains(c.output), qPrintable(output));
        }
    }

    void statusHelpFollowsTheControlUnderTheCursor() {
        DialogWatcher watcher;
        ProgramFolder folder;
        auto window = Open(folder, kNoInterface);
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        Next(*window);
        Next(*window);   // refused: no interface; resultText says why

        struct Case { int id; QString text; };
        const Case cases[] = {
            {1003, Res(1003)},
            {1006, QStringLiteral("Input passward!")},
            {CDialogStatusBar::kControlId, Res(57683)},
            {1054, QString()},   // no string: the front end's statusText, empty so far
            {0, QString()},
        };
        for (const Case& c : cases) {
            window->SetStatusText(QStringLiteral("-"));
            window->ShowStatusText(c.id);
            QCOMPARE(window->StatusPaneText(), c.text);
        }

        // An aborted listen leaves 57675 as the front end's statusText, the help of
        // every place without a text of its own.
        PostConnectResult(*window, fdp::ConnectAborted);
        Back(*window);
        QCOMPARE(Sheet(*window)->ActiveIndex(), int(PagePasswdIndex));

        // Moved as the pointer moves over the window: from a control back onto the bare
        // page beneath it, the control's help must not stay.
        QLineEdit* edit = Passwd(*window)->PasswordEdit();
        QWidget* page = Passwd(*window);
        struct Place { QWidget* widget; QPoint point; QString text; };
        const Place places[] = {
            {edit, edit->rect().center(), QStringLiteral("Input passward!")},
            {page, BarePoint(page), Res(57675)},
            {window->StatusBar(), window->StatusBar()->rect().center(), Res(57683)},
            {edit, edit->rect().center(), QStringLiteral("Input passward!")},
            {Sheet(*window)->NextButton(), Sheet(*window)->NextButton()->rect().center(), Res(2)},
            {page, BarePoint(page), Res(57675)},
        };
        for (const Place& place : places) {
            QVERIFY(!place.point.isNull());
            QTest::mouseMove(window->windowHandle(), place.widget->mapTo(window.get(), place.point));
            QTRY_COMPARE(window->StatusPaneText(), place.text);
        }
        window->close();
    }

    // What a connection result does, posted as the engine posts it: the guide dialog
    // (or none), the status bar's one line, the page's state text, the link state and
    // the wizard buttons.
    void connectionResultsReachTheUser_data() {
        QTest::addColumn<uint>("result");
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("state");
        QTest::addColumn<int>("linkState");
        QTest::addColumn<QString>("buttons");
        QTest::addColumn<QString>("frontStatus");
        const QString address = QStringLiteral("00:00:00:00:00:00");   // no announce seen
        QTest::newRow("0 connected") << 0u << QString() << Res(57671) + address + QStringLiteral("!")
                                     << Res(57677) + address << int(LinkConnected) << QStringLiteral("BN") << QString();
        QTest::newRow("1 bad password") << 1u << Res(111) << Res(111) << Res(57679) << int(LinkNotConnected)
                                        << QStringLiteral("B") << QString();
        QTest::newRow("2 timeout") << 2u << Res(57670)
                                   << QStringLiteral("Cannot connect with target(timeout), please check target system! ")
                                   << Res(57678) << int(LinkNotConnected) << QStringLiteral("B") << QString();
        QTest::newRow("4 busy") << 4u << QString() << Res(57675) << Res(57679) << int(LinkNotConnected)
                                << QStringLiteral("B") << Res(57675);
        QTest::newRow("6 flash") << 6u << Res(57673) << Res(57673) << Res(57679) << int(LinkNotConnected)
                                 << QStringLiteral("B") << QString();
        QTest::newRow("9 version low") << 9u << Res(57674) << Res(57674) << Res(57679) << int(LinkNotConnected)
                                       << QStringLiteral("B") << QString();
        QTest::newRow("11 aborted") << 11u << QString() << Res(57675) << Res(57679) << int(LinkNotConnected)
                                    << QStringLiteral("B") << Res(57675);
    }

    void connectionResultsReachTheUser() {
        QFETCH(uint, result);
        QFETCH(QString, dialog);
        QFETCH(QString, status);
        QFETCH(QString, state);
        QFETCH(int, linkState);
        QFETCH(QString, buttons);
        QFETCH(QString, frontStatus);
        DialogWatcher watcher;
        ProgramFolder folder;
        auto window = Open(folder, kNoInterface);
        watcher.messages.clear();   // the start's no-adapter message
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        const int barHeight = window->StatusBar()->height();

        PostConnectResult(*window, result);
        QCOMPARE(watcher.messages, dialog.isEmpty() ? QStringList() : QStringList{dialog});
        QCOMPARE(window->StatusPaneText(), status);
        QCOMPARE(Link(*window)->StateText()->Text(), state);
        QCOMPARE(TheWizardJob().linkState, linkState);
        QCOMPARE(Buttons(*window), buttons);
        QCOMPARE(QString::fromStdString(window->FrontEnd().statusText()), frontStatus);
        // One line: the bar keeps its height and the sheet its place.
        QCoreApplication::processEvents();
        QCOMPARE(window->StatusBar()->height(), barHeight);
        window->close();
    }

    // A radio hidden by its visibility switch is never selected, whatever kelvane.ini
    // says: neither on the page nor for Next.
    void aHiddenTaskIsNeverChosen() {
        struct Case {
            std::array<qint32, 5> tasks;   // name/password, register, firmware, DHCP/NAT, loop test
            int page;
            int task;
        };
        const Case cases[] = {
            {{-1, 0, 0, -1, -1}, PageFirmFileIndex, TaskFirmware},   // firmware and hidden register
            {{-1, 0, -1, -1, -1}, PageLinkIndex, -1},                // hidden register alone: nothing chosen
            {{-1, -1, -1, 0, 0}, PageLinkIndex, -1},                 // hidden DHCP/NAT and loop test
        };
        for (const Case& c : cases) {
            TheWizardJob() = WizardJob{};
            DialogWatcher watcher;
            ProgramFolder folder;
            {
                QFile ini(folder.File(QStringLiteral("kelvane.ini")));
                QVERIFY(ini.open(QIODevice::WriteOnly));
                ini.write(Settings(Le32(0), c.tasks));
            }
            auto window = Open(folder, kNoInterface);
            PostConnectResult(*window, fdp::ConnectOk);
            CPageLink* link = Link(*window);
            for (int id : {1095, 1005, 1001}) QVERIFY(link->Radio(id)->isHidden() && !link->Radio(id)->isChecked());
            QCOMPARE(link->Radio(1003)->isChecked(), c.tasks[2] == 0);
            Next(*window);
            QCOMPARE(Sheet(*window)->ActiveIndex(), c.page);
            QCOMPARE(TheWizardJob().task, c.task);
            window->close();
            QCOMPARE(folder.Read(QStringLiteral("kelvane.ini")).mid(4, 20),
                     Le32(-1) + Le32(-1) + Le32(c.tasks[2]) + Le32(-1) + Le32(-1));
        }
    }

    // Each task's radio leads Next to the page of the task's inputs, and the download
    // page's Back returns there.
    void eachTaskLeadsToItsPageAndBack_data() {
        QTest::addColumn<int>("radio");
        QTest::addColumn<QString>("page");
        QTest::newRow("firmware") << 1003 << QStringLiteral("CPageFirmFile");
        QTest::newRow("name and password") << 1004 << QStringLiteral("CPageParam");
        QTest::newRow("DHCP/NAT") << 1005 << QStringLiteral("CPageConfigIPnew");
        QTest::newRow("loop test") << 1001 << QStringLiteral("CPageCircleTest");
        QTest::newRow("register") << 1095 << QStringLiteral("CPageRegister");
    }
    void eachTaskLeadsToItsPageAndBack() {
        QFETCH(int, radio);
        QFETCH(QString, page);
        const auto shown = [](CKelvaneDlg& window) {
            return QString::fromLatin1(Sheet(window)->ActivePage()->metaObject()->className());
        };
        TheWizardJob() = WizardJob{};
        DialogWatcher watcher;
        ProgramFolder folder;
        auto window = OpenMainWindow(folder, kNoInterface, true);
        PostConnectResult(*window, fdp::ConnectOk);
        QTest::mouseClick(Link(*window)->Radio(radio), Qt::LeftButton, {}, QPoint(8, 8));
        Next(*window);
        QCOMPARE(shown(*window), page);

        Sheet(*window)->SetActivePage(PageBurnIndex);
        QCOMPARE(shown(*window), QStringLiteral("CPageBurn"));
        Sheet(*window)->PressBack();
        QCOMPARE(shown(*window), page);
        window->close();
    }

    // Return presses Next, or Finish when that is the button shown, as in any wizard.
    void returnPressesTheForwardButton() {
        DialogWatcher watcher;
        ProgramFolder folder;
        auto window = Open(folder, kNoInterface);
        watcher.messages.clear();
        Next(*window);
        QTest::keyClicks(Passwd(*window)->PasswordEdit(), QStringLiteral("kiwi"));
        QTest::keyClick(Passwd(*window)->PasswordEdit(), Qt::Key_Return);
        QCOMPARE(watcher.messages, QStringList{Res(3009)});   // Next tried to listen

        struct Case { int flags; int next; int finish; };
        const Case cases[] = {
            {CFirmSheet::WizBack | CFirmSheet::WizNext, 1, 0},
            {CFirmSheet::WizBack, 0, 0},
            {CFirmSheet::WizBack | CFirmSheet::WizFinish, 0, 1},
            {CFirmSheet::WizDisabledFinish, 0, 0},
        };
        for (const Case& c : cases) {
            Sheet(*window)->SetActivePage(PageWelcomeIndex);
            Sheet(*window)->SetWizardButtons(c.flags);
            QSignalSpy next(Sheet(*window)->NextButton(), &QPushButton::clicked);
            QSignalSpy finish(Sheet(*window)->FinishButton(), &QPushButton::clicked);
            QTest::keyClick(window.get(), Qt::Key_Return);
            QCOMPARE(next.size(), c.next);
            QCOMPARE(finish.size(), c.finish);
        }
        window->close();
    }

    void closingWritesTheSettingsAndTheNextStartRestoresThem() {
        DialogWatcher watcher;
        ProgramFolder folder;
        {
            auto window = Open(folder, kNoInterface);
            Next(*window);
            QTest::keyClicks(Passwd(*window)->PasswordEdit(), QStringLiteral("kiwi2"));
            Passwd(*window)->SaveCheck()->setChecked(true);
            Back(*window);   // leaving the page reads its controls
            QAction* exit = window->findChild<QAction*>(QStringLiteral("menuExit"));
            exit->trigger();
            QVERIFY(!window->isVisible());
        }
        // The download page's record: the summary built when the page was activated.
        const QByteArray expected = Settings(Le32(1) + Text("kiwi2"), {-1, -1, -1, -1, -1},
                                             QByteArray::fromStdString(res::LoadString(57771) + res::LoadString(57783)));
        QCOMPARE(folder.Read(QStringLiteral("kelvane.ini")).toHex(' '), expected.toHex(' '));
        QVERIFY(!QFile::exists(folder.File(QStringLiteral("kelvane.old"))));

        auto window = Open(folder, kNoInterface);
        QVERIFY(Passwd(*window)->PasswordEdit()->text().isEmpty());   // until the page shows
        Next(*window);
        QCOMPARE(Passwd(*window)->PasswordEdit()->text(), QStringLiteral("kiwi2"));
        QCOMPARE(Passwd(*window)->PasswordEdit()->echoMode(), QLineEdit::Password);
        QVERIFY(Passwd(*window)->SaveCheck()->isChecked());
        Passwd(*window)->SaveCheck()->setChecked(false);
        Back(*window);
        window->close();
        // Unchecked: the record is the flag alone; the previous file is kept as kelvane.old.
        QVERIFY(folder.Read(QStringLiteral("kelvane.ini")).startsWith(Le32(0) + Le32(-1)));
        QCOMPARE(folder.Read(QStringLiteral("kelvane.old")), expected);
    }

    void serviceCodeRevealsTheServiceButtons() {
        DialogWatcher watcher;
        ProgramFolder folder;
        auto window = Open(folder, kNoInterface);
        auto* param = static_cast<CPageParam*>(window->PageAt(PageParamIndex));
        auto* burn = static_cast<CPageBurn*>(window->PageAt(PageBurnIndex));
        QList<QPushButton*> buttons{param->GetParamsButton(), burn->TraceButton(), burn->DiagnoseButton()};
        for (QPushButton* button : buttons) QVERIFY(button->isHidden() && !button->isEnabled());

        // A wrong character starts the code again; closing the box keeps the count.
        const QStringList sessions{QStringLiteral("580TX"), QStringLiteral("580T"), QStringLiteral("ULIP")};
        const int progress[] = {0, 4, 0};
        QString filesText;
        for (int i = 0; i < sessions.size(); ++i) {
            QTimer::singleShot(0, this, [&, i] {
                auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
                if (!about) return;
                filesText = about->findChild<QLabel*>(QStringLiteral("filesFolder"))->text();
                QTest::keyClicks(about->CodeBox(), sessions[i]);
                about->accept();
            });
            window->findChild<QAction*>(QStringLiteral("menuAbout"))->trigger();
            QCOMPARE(CAboutDlg::CodeProgress(), progress[i]);
        }
        for (QPushButton* button : buttons) QVERIFY(!button->isHidden() && button->isEnabled());
        // The box names the folder of the working files.
        QCOMPARE(filesText, QStringLiteral("Folder: ") + QDir::toNativeSeparators(folder.Path()));
        window->close();
    }

    void reportsArePostedWithoutRepeats() {
        DialogWatcher watcher;
        ProgramFolder folder;
        auto window = Open(folder, kNoInterface);
        EventLog log(*window);
        struct Step { unsigned stage, result; quint32 position, total; bool posted; qint32 lParam; };
        const Step steps[] = {
            {0, 0xFF, 0, 0, false, 0},      // the remembered pair at start
            {61, 0, 0, 0, true, 0},
            {61, 0, 0, 0, false, 0},        // a repeat
            {62, 0, 500, 1000, true, 500},
            {62, 0, 500, 1000, true, 500},  // transfer progress always
            {62, 0, 5000, 4096, true, 4096},
            {61, 0, 0, 0, false, 0},        // stage 62 did not change the remembered pair
            {63, 0, 0, 0, true, 0},
            {61, 0, 0, 0, true, 0},         // the same pair after another one
        };
        int expected = 0;
        for (const Step& step : steps) {
            // A number that names no stage cannot be told at all: nothing is posted for it.
            if (!TellStage(*window, step.stage, step.result, step.position, step.total)) QVERIFY(!step.posted);
            QCoreApplication::sendPostedEvents();
            if (step.posted) ++expected;
            QCOMPARE(log.reports.size(), expected);
            if (step.posted) {
                QCOMPARE(log.reports.last().first, quint32(step.stage));
                QCOMPARE(log.reports.last().second, step.lParam);
            }
        }
        window->close();
    }

    // Transfer progress reported faster than the window takes it is coalesced: one report
    // on its way at a time, with the latest position when it arrives, and never after the
    // stage that follows the transfer.
    void transferProgressIsCoalesced() {
        DialogWatcher watcher;
        ProgramFolder folder;
        auto window = Open(folder, kNoInterface);
        EventLog log(*window);
        TellStage(*window, 61, 0);   // another pair than the last one
        for (quint32 position = 1; position <= 100; ++position) TellStage(*window, 62, 0, position * 10, 1000);
        TellStage(*window, 63, 0);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(log.reports.size(), 3);
        QCOMPARE(log.reports[0].first, 61u);
        QCOMPARE(log.reports[1], (QPair<quint32, qint32>(62, 1000)));
        QCOMPARE(log.reports[2].first, 63u);
        window->close();
    }

    // A download whose first block cannot be read: the transfer's report carries the
    // stopped text with the file error, made once with the failure, through the coalesced
    // hand-on to its line; the end of the transfer adds the stopped text and the download
    // stops.
    void aTransferThatCannotReadItsFileShowsTheStoppedText() {
        DialogWatcher watcher;
        ProgramFolder folder;
        auto window = Open(folder, kNoInterface);
        Sheet(*window)->SetActivePage(PageBurnIndex);
        auto* page = static_cast<CPageBurn*>(window->PageAt(PageBurnIndex));
        constexpr unsigned kFileError = 10;
        TellStage(*window, 62, kFileError, 0, 1000);
        TellStage(*window, 63, kFileError);
        QCoreApplication::sendPostedEvents();
        const std::string stopped = res::LoadString(57730);
        QCOMPARE(page->ReportText(), stopped + " file operation failed!\r\n" + stopped + "\r\n");
        QCOMPARE(page->ProgressBar()->value(), 0);
        QCOMPARE(page->downloadState(), CPageBurn::DownloadState::Idle);
        window->close();
    }

    void connectsToTheSimulatedTarget() {
        KELVANE_REQUIRE_BENCH();
        SimulatedTarget target;
        QVERIFY(target.Start({QStringLiteral("--program-version"), QStringLiteral("1.2.3.4")}));
        DialogWatcher watcher;
        ProgramFolder folder;
        QString address;
        {
            auto window = Open(folder, bench::kPcInterface);
            QVERIFY2(watcher.messages.isEmpty(), qPrintable(watcher.messages.join(QLatin1Char('\n'))));
            QCOMPARE(window->FrontEnd().AdapterIndex(), 0);
            ConnectWith(*window, QStringLiteral("kiwi"));
            CPageLink* link = Link(*window);
            QCOMPARE(link->StateText()->Text(), Res(57676));
            QCOMPARE(Buttons(*window), QString());
            QCOMPARE(TheWizardJob().linkState, int(LinkListening));

            QTRY_COMPARE_WITH_TIMEOUT(TheWizardJob().linkState, int(LinkConnected), kConnectWaitMs);
            address = QString::fromStdString(TheWizardJob().connectedWith);
            QCOMPARE(address.size(), 17);
            QCOMPARE(link->StateText()->Text(), Res(57677) + address);
            QCOMPARE(window->StatusPaneText(), Res(57671) + address + QStringLiteral("!"));
            QCOMPARE(Buttons(*window), QStringLiteral("BN"));
            for (int id : {1004, 1003}) QVERIFY(!link->Radio(id)->isHidden() && link->Radio(id)->isEnabled());
            for (int id : {1005, 1001, 1095}) QVERIFY(link->Radio(id)->isHidden());
            QVERIFY(watcher.messages.isEmpty());

            for (int id : {1003, 1004, 1004}) {   // a radio clicked again stays selected
                QTest::mouseClick(link->Radio(id), Qt::LeftButton, {}, QPoint(8, link->Radio(id)->height() / 2));
            }
            QVERIFY(!link->Radio(1003)->isChecked());
            QVERIFY(link->Radio(1004)->isChecked());
            Next(*window);
            QCOMPARE(Sheet(*window)->ActiveIndex(), int(PageParamIndex));
            QCOMPARE(TheWizardJob().task, int(TaskNamePassword));
            Back(*window);
            QCOMPARE(Sheet(*window)->ActiveIndex(), int(PageLinkIndex));
            window->close();
        }
        // Address, a zero byte, the program version, CR LF.
        QCOMPARE(folder.Read(QStringLiteral("Target_Bt_Addr.txt")),
                 address.toLatin1() + QByteArray(1, '\0') + QByteArray("1.2.3.4\r\n"));
        const QByteArray ini = folder.Read(QStringLiteral("kelvane.ini"));
        QVERIFY(ini.startsWith(Le32(0) + Le32(0) + Le32(-1) + Le32(-1) + Le32(-1) + Le32(-1)));

        // The task chosen last time is preselected; the job's task follows the firmware radio.
        TheWizardJob() = WizardJob{};
        auto window = Open(folder, bench::kPcInterface);
        QCOMPARE(TheWizardJob().task, -1);
        Sheet(*window)->SetActivePage(PageLinkIndex);
        QVERIFY(Link(*window)->Radio(1004)->isChecked());
        QVERIFY(!Link(*window)->Radio(1003)->isChecked());
        window->close();
    }

    void wrongPasswordIsReportedAndOffersBack() {
        KELVANE_REQUIRE_BENCH();
        SimulatedTarget target;
        QVERIFY(target.Start({QStringLiteral("--password"), QStringLiteral("kiwi")}));
        DialogWatcher watcher;
        ProgramFolder folder;
        auto window = Open(folder, bench::kPcInterface);
        watcher.probe = [&window] { return window->StatusPaneText(); };
        ConnectWith(*window, QStringLiteral("melon"));
        QTRY_COMPARE_WITH_TIMEOUT(watcher.messages.size(), 1, kConnectWaitMs);
        QCOMPARE(watcher.messages[0], Res(111));
        QCOMPARE(Link(*window)->StateText()->Text(), Res(57679));
        QCOMPARE(watcher.probed.value(0), Res(111));
        QCOMPARE(TheWizardJob().linkState, int(LinkNotConnected));
        QCOMPARE(Buttons(*window), QStringLiteral("B"));
        Back(*window);
        QCOMPARE(Sheet(*window)->ActiveIndex(), int(PagePasswdIndex));
        QCOMPARE(Passwd(*window)->PasswordEdit()->text(), QStringLiteral("melon"));
        window->close();
    }
};

int main(int argc, char** argv) {
    bench::EnterPcSide();
    QApplication app(argc, argv);
    res::SetLanguage(res::Language::English);
    WizardTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "WizardTest.moc"
