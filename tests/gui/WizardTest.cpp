// The real main window driven through its flows: the first pages, the guide dialogs,
// the status help, kelvane.ini, the About box's service code, the link event routing,
// and, on the network bench, a connection to the simulated target.
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>
#include <memory>

#include "app/AboutDlg.h"
#include "app/FdpEvent.h"
#include "app/FirmSheet.h"
#include "app/KelvaneDlg.h"
#include "app/WizardJob.h"
#include "app/widgets/ControlId.h"
#include "app/widgets/DialogStatusBar.h"
#include "app/widgets/FontStatic.h"
#include "fdp/FdpTypes.h"
#include "pages/PageBurn.h"
#include "pages/PageLink.h"
#include "pages/PageParam.h"
#include "pages/PagePasswd.h"
#include "resources/strings/StringTable.h"
#include "tests/gui/GuiSupport.h"

namespace {

constexpr int kConnectWaitMs = 40000;   // the listen waits up to 30 s for an announce
const char* const kNoInterface = "kvnone";

QString Res(unsigned id) { return QString::fromStdString(res::LoadString(id)); }

// Records the link events posted to a page.
class EventLog : public QObject {
public:
    explicit EventLog(QObject* page) { page->installEventFilter(this); }
    QList<QPair<quint32, qint32>> reports;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == static_cast<QEvent::Type>(fdp::WM_FDP_REPORT)) {
            const auto* message = static_cast<CFdpEvent*>(event);
            reports.append({message->WParam(), message->LParam()});
        }
        return false;
    }
};

}  // namespace

class WizardTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<CKelvaneDlg> Open(const ProgramFolder& folder, const char* interfaceName) {
        CKelvaneDlg::Options options;
        options.interfaceName = interfaceName;
        options.programFolder = folder.Path().toStdString();
        auto window = std::make_unique<CKelvaneDlg>(options);
        window->show();
        window->Start();
        return window;
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
    void RequireBench() {
        if (bench::Available()) return;
        if (bench::InCi()) QFAIL(qPrintable(bench::Missing()));
        QSKIP(qPrintable(bench::Missing()));
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
        QCOMPARE(watcher.messages.size(), 1);
        QVERIFY(watcher.messages[0].startsWith(Res(3008)));
        QCOMPARE(window->AdapterIndex(), -1);

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

        QLineEdit* edit = Passwd(*window)->PasswordEdit();
        QTest::mouseMove(edit, edit->rect().center());
        QTRY_COMPARE(window->StatusPaneText(), QStringLiteral("Input passward!"));
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
        const QByteArray expected = Le32(1) + Text("kiwi2")                       // password
                                    + Le32(-1) + Le32(-1) + Le32(-1) + Le32(-1) + Le32(-1)  // tasks
                                    + Text("") + Text("") + Text("")              // name and password
                                    + Text("") + Text("") + Text("") + Text("") + Text("")  // register
                                    + Le32(0) + Text("") + Text("")               // firmware file
                                    + Le32(-1) + Le32(-1) + Le32(-1) + Le32(-1) + Le32(-1) + Le32(-1) + Le32(1) +
                                    Le32(0)                                       // loop test
                                    + Text("");                                   // download
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
        QVERIFY2(filesText.contains(QDir::toNativeSeparators(folder.Path())), qPrintable(filesText));
        window->close();
    }

    void reportsArePostedWithoutRepeats() {
        DialogWatcher watcher;
        ProgramFolder folder;
        auto window = Open(folder, kNoInterface);
        EventLog log(window->PageAt(PageBurnIndex));
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
            window->Report(step.stage, step.result, step.position, step.total);
            QCoreApplication::sendPostedEvents(window->PageAt(PageBurnIndex));
            if (step.posted) ++expected;
            QCOMPARE(log.reports.size(), expected);
            if (step.posted) {
                QCOMPARE(log.reports.last().first, quint32(step.stage));
                QCOMPARE(log.reports.last().second, step.lParam);
            }
        }
        window->close();
    }

    void connectsToTheSimulatedTarget() {
        RequireBench();
        SimulatedTarget target;
        QVERIFY(target.Start({QStringLiteral("--program-version"), QStringLiteral("1.2.3.4")}));
        DialogWatcher watcher;
        ProgramFolder folder;
        QString address;
        {
            auto window = Open(folder, bench::kPcInterface);
            QVERIFY2(watcher.messages.isEmpty(), qPrintable(watcher.messages.join(QLatin1Char('\n'))));
            QCOMPARE(window->AdapterIndex(), 0);
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
        RequireBench();
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
