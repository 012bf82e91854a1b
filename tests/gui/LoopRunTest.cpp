// The loop test through the whole wizard on the network bench: connected to the
// simulator, whose Bluetooth module and the wizard's dongle are two controllers of
// BlueZ's btvirt, the loop test page starts the dongle and the download page runs the
// chosen test and shows its report. Leaves a picture of the download page after a run
// in build/pages/<language>/08-looptest.png.
//
// btvirt's server sockets have fixed names in /tmp: btvirt runs in a mount namespace of
// its own whose /tmp is a scratch folder of the test's, and the simulator and the
// wizard reach its sockets through that folder; nobody else sees them.
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QtTest>
#include <clocale>
#include <string>
#include <memory>

#include "app/KelvaneDlg.h"
#include "hci/DongleLink.h"
#include "pages/FirmSheet.h"
#include "pages/LoopTestChoice.h"
#include "pages/PageBurn.h"
#include "pages/PageCircleTest.h"
#include "pages/PageLink.h"
#include "pages/PagePasswd.h"
#include "pages/WizardJob.h"
#include "resources/strings/StringTable.h"
#include "tests/gui/GuiSupport.h"

namespace {

constexpr int kConnectWaitMs = 40000;
QTemporaryDir* g_btvirtTmp = nullptr;  // btvirt's /tmp

QString Server() { return g_btvirtTmp->filePath(QStringLiteral("bt-server-bredr")); }

QString Res(unsigned id) { return QString::fromStdString(res::LoadString(id)); }

}  // namespace

class LoopRunTest : public QObject {
    Q_OBJECT

private:
    static void Next(CKelvaneDlg& window) { QTest::mouseClick(window.Sheet()->NextButton(), Qt::LeftButton); }
    static void Click(QAbstractButton* button) {
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
    }
    static void Enter(QLineEdit* edit, const QString& text) {
        edit->selectAll();
        edit->del();
        QTest::keyClicks(edit, text);
    }
    bool StartBtvirt() {
        m_btvirt.setProgram(QStringLiteral("unshare"));
        m_btvirt.setArguments({QStringLiteral("-m"), QStringLiteral("--propagation"), QStringLiteral("private"),
                               QStringLiteral("sh"), QStringLiteral("-c"),
                               QStringLiteral("mount --bind \"$0\" /tmp && exec btvirt -s -l0"), g_btvirtTmp->path()});
        m_btvirt.setStandardOutputFile(QProcess::nullDevice());
        m_btvirt.start();
        if (!m_btvirt.waitForStarted(5000)) return false;
        for (int i = 0; i < 100 && !QFile::exists(Server()); ++i) QTest::qWait(20);
        return QFile::exists(Server());
    }

    QProcess m_btvirt;

private slots:
    void init() {
        TheWizardJob() = WizardJob{};
        if (!bench::Available() || !g_btvirtTmp->isValid()) {
            const QString why = bench::Available() ? QStringLiteral("no scratch folder for btvirt") : bench::Missing();
            if (bench::InCi()) QFAIL(qPrintable(why));
            QSKIP(qPrintable(why));
        }
        QVERIFY(StartBtvirt());
    }
    void cleanup() {
        m_btvirt.terminate();
        m_btvirt.waitForFinished(5000);
        QFile::remove(Server());
    }

    void runsTheChosenTestFromTheDownloadPage_data() {
        QTest::addColumn<int>("test");
        QTest::addColumn<int>("role");
        QTest::addColumn<QString>("size");
        QTest::addColumn<QString>("speed");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<bool>("picture");
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<bool>("commaLocale");   // the user's locale writes 0,5
        const QString lostNothing = Res(57767) + QStringLiteral(": 0.000000%!\r\n");
        QTest::newRow("target to dongle") << 1009 << 1011 << "1000" << "10"
                                          << QStringList{Res(57739), Res(57764), Res(57765), Res(57766), lostNothing}
                                          << true << QStringList{} << false;
        QTest::newRow("dongle to target") << 1089 << 1012 << "100" << "80"
                                          << QStringList{Res(57738), Res(57765), Res(57768), Res(57769)} << false
                                          << QStringList{} << false;
        QTest::newRow("dongle test mode") << 1010 << 1012 << "1" << "10" << QStringList{Res(57740), Res(57744)} << false
                                          << QStringList{} << false;
        // The radio keeps back 50 of 250 bytes; the report keeps its decimal point
        // whatever the user's locale.
        const QStringList withhold50 = {QStringLiteral("--bt-withhold"), QStringLiteral("50")};
        QTest::newRow("target to dongle, a fifth lost, comma locale")
            << 1009 << 1012 << "250" << "10" << QStringList{Res(57767) + QStringLiteral(": 20.000000%!\r\n")} << false
            << withhold50 << true;
        QTest::newRow("dongle to target, a fifth lost, comma locale")
            << 1089 << 1011 << "250" << "10" << QStringList{Res(57769) + QStringLiteral(": 20.000000%!\r\n")} << false
            << withhold50 << true;
    }
    void runsTheChosenTestFromTheDownloadPage() {
        QFETCH(int, test);
        QFETCH(int, role);
        QFETCH(QString, size);
        QFETCH(QString, speed);
        QFETCH(QStringList, lines);
        QFETCH(bool, picture);
        QFETCH(QStringList, simOptions);
        QFETCH(bool, commaLocale);
        const std::string numbersBefore = std::setlocale(LC_NUMERIC, nullptr);
        if (commaLocale && !std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) {
            if (bench::InCi()) QFAIL("locale de_DE.UTF-8 missing: scripts/setup generates it");
            QSKIP("locale de_DE.UTF-8 missing (scripts/setup generates it)");
        }
        const auto restoreLocale = qScopeGuard([&numbersBefore] { std::setlocale(LC_NUMERIC, numbersBefore.c_str()); });
        SimulatedTarget target;
        QVERIFY(target.Start(QStringList{QStringLiteral("--password"), QStringLiteral("kiwi"),
                                         QStringLiteral("--announce-ms"), QStringLiteral("200"), QStringLiteral("--bt"),
                                         QStringLiteral("unix:") + Server()} +
                             simOptions));
        ProgramFolder folder;
        DialogWatcher watcher;
        auto window = OpenMainWindow(folder, bench::kPcInterface, true, "unix:" + Server().toStdString());
        window->Sheet()->SetActivePage(PagePasswdIndex);
        static_cast<CPagePasswd*>(window->PageAt(PagePasswdIndex))->PasswordEdit()->setText(QStringLiteral("kiwi"));
        Next(*window);
        QTRY_COMPARE_WITH_TIMEOUT(TheWizardJob().linkState, int(LinkConnected), kConnectWaitMs);
        Click(static_cast<CPageLink*>(window->PageAt(PageLinkIndex))->Radio(1001));
        Next(*window);
        QCOMPARE(window->Sheet()->ActiveIndex(), int(PageCircleTestIndex));
        auto* choice = static_cast<CPageCircleTest*>(window->PageAt(PageCircleTestIndex));
        Click(choice->Radio(test));
        Click(choice->Radio(role));
        Enter(choice->Edit(1090), size);
        Enter(choice->Edit(1096), speed);
        Next(*window);
        QTRY_COMPARE(window->Sheet()->ActiveIndex(), int(PageBurnIndex));
        auto* burn = static_cast<CPageBurn*>(window->PageAt(PageBurnIndex));
        QVERIFY(QString::fromStdString(burn->SummaryText()).contains(
            Res(57774) + QString::fromStdString(TheDongleLink().DongleAddressText())));
        Next(*window);
        QTRY_VERIFY_WITH_TIMEOUT(window->Sheet()->FinishButton()->isVisible(), 20000);
        const QString report = QString::fromStdString(burn->ReportText());
        for (const QString& line : lines) QVERIFY2(report.contains(line), qPrintable(line + QStringLiteral(" in\n") + report));
        QVERIFY(window->Sheet()->BackButton()->isEnabled());
        QVERIFY(watcher.messages.isEmpty());
        if (picture) {
            const QString dir = QStringLiteral(KELVANE_PAGES_DIR "/") +
                                (res::CurrentLanguage() == res::Language::Chinese ? "zh" : "en");
            QDir().mkpath(dir);
            QVERIFY(window->grab().save(dir + QStringLiteral("/08-looptest.png")));
        }
        // Back closes the dongle, so that the loop test page opens it afresh.
        QTest::mouseClick(window->Sheet()->BackButton(), Qt::LeftButton);
        QCOMPARE(window->Sheet()->ActiveIndex(), int(PageCircleTestIndex));
        QVERIFY(!TheDongleLink().IsOpen());
        window->close();
    }
};

int main(int argc, char** argv) {
    bench::EnterPcSide();
    QApplication app(argc, argv);
    QTemporaryDir btvirtTmp;
    g_btvirtTmp = &btvirtTmp;
    res::SetLanguage(res::SystemLanguage());
    LoopRunTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "LoopRunTest.moc"
