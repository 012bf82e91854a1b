// The wizard with two targets behind one switch (scripts/bench two): when both answer
// its first second of listening it logs in to neither and the connection page lists them
// for the user to choose; a target that comes up after the login is named on the
// connection page and in the download page's summary; with --target it logs in to the
// chosen one, which the window title names from the start.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QProcess>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>
#include <memory>

#include "pages/FirmSheet.h"
#include "app/KelvaneDlg.h"
#include "pages/WizardJob.h"
#include "widgets/ControlId.h"
#include "widgets/FontStatic.h"
#include "fdp/FirmwareFile.h"
#include "pages/PageBurn.h"
#include "pages/PageLink.h"
#include "pages/PagePasswd.h"
#include "resources/strings/StringTable.h"
#include "tests/gui/GuiSupport.h"

namespace {

const QString kFirst = QStringLiteral("02:4b:56:00:00:11");
const QString kSecond = QStringLiteral("02:4b:56:00:00:12");

bool Bench(const QStringList& arguments) {
    QProcess bench;
    bench.start(QStringLiteral(KELVANE_SOURCE_DIR "/scripts/bench"), arguments);
    return bench.waitForFinished(30000) && bench.exitStatus() == QProcess::NormalExit && bench.exitCode() == 0;
}

}  // namespace

class SeveralTargetsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<CKelvaneDlg> Open(const ProgramFolder& folder, std::optional<fdp::MacAddress> target,
                                      unsigned paceMs = 10) {
        CKelvaneDlg::Options options;
        options.interfaceName = bench::kPcInterface;
        options.programFolder = folder.Path().toStdString();
        options.target = target;
        options.paceMs = paceMs;
        auto window = std::make_unique<CKelvaneDlg>(options);
        window->show();
        window->Start();
        return window;
    }
    void LogIn(CKelvaneDlg& window) {
        window.Sheet()->PressNext();
        static_cast<CPagePasswd*>(window.PageAt(PagePasswdIndex))->PasswordEdit()->setText(QStringLiteral("kiwi"));
        window.Sheet()->PressNext();
    }

    // Each simulator announces every 100 ms and logs every frame in its own file.
    bool StartFirst() { return m_first.Start(SimOptions(QStringLiteral("first.log")), QStringLiteral("kvt1")); }
    bool StartSecond() { return m_second.Start(SimOptions(QStringLiteral("second.log")), QStringLiteral("kvt2")); }
    QStringList SimOptions(const QString& log) const {
        return {QStringLiteral("--announce-ms"), QStringLiteral("100"), QStringLiteral("--log"), m_logs->filePath(log)};
    }
    // The log lines of the frames the PC sent to a simulator of this type (2: login).
    QStringList FramesIn(const QString& log, int type) const {
        QFile file(m_logs->filePath(log));
        QStringList lines;
        if (!file.open(QIODevice::ReadOnly)) return lines;
        const QString fragment = QStringLiteral("\"type\":%1,").arg(type);
        for (const QByteArray& line : file.readAll().split('\n'))
            if (line.contains("\"dir\":\"in\"") && QString::fromUtf8(line).contains(fragment)) lines << QString::fromUtf8(line);
        return lines;
    }

    SimulatedTarget m_first, m_second;
    std::unique_ptr<QTemporaryDir> m_logs;

private slots:
    void init() {
        KELVANE_REQUIRE_BENCH();
        QVERIFY(Bench({QStringLiteral("two"), QStringLiteral("up")}));
        m_logs = std::make_unique<QTemporaryDir>();
        TheWizardJob() = WizardJob{};
    }
    void cleanup() {
        m_first.Stop();
        m_second.Stop();
        Bench({QStringLiteral("two"), QStringLiteral("down")});
        m_logs.reset();
    }

    // Both answer the first second: no login goes out; the page lists both (address,
    // adapter, last heard) with Next off, and logs in to the one clicked, on its adapter.
    void listsBothAndLogsInToTheOneClicked_data() {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("question");
        QTest::addColumn<QStringList>("columns");
        QTest::addColumn<QString>("ago");
        QTest::newRow("English") << int(res::Language::English)
                                 << QStringLiteral("Several targets answer, so none was logged in to. Choose the one to connect to:")
                                 << QStringList{QStringLiteral("Address"), QStringLiteral("Adapter"), QStringLiteral("Last heard")}
                                 << QStringLiteral(" s ago");
        QTest::newRow("Chinese") << int(res::Language::Chinese)
                                 << QStringLiteral("有多台设备在应答，因此没有登录任何一台。请选择要连接的设备：")
                                 << QStringList{QStringLiteral("地址"), QStringLiteral("网卡"), QStringLiteral("最后一次收到")}
                                 << QStringLiteral(" 秒前");
    }

    void listsBothAndLogsInToTheOneClicked() {
        QFETCH(int, language);
        QFETCH(QString, question);
        QFETCH(QStringList, columns);
        QFETCH(QString, ago);
        res::SetLanguage(static_cast<res::Language>(language));
        QVERIFY(StartFirst());
        QVERIFY(StartSecond());
        DialogWatcher watcher;
        ProgramFolder folder;
        auto window = Open(folder, std::nullopt);
        LogIn(*window);
        auto* link = static_cast<CPageLink*>(window->PageAt(PageLinkIndex));
        QTreeWidget* list = link->TargetList();
        QTRY_VERIFY_WITH_TIMEOUT(list->isVisible(), 5000);
        QCOMPARE(list->topLevelItemCount(), 2);
        QCOMPARE(link->StateText()->Text(), question);
        for (int column = 0; column < 3; ++column) QCOMPARE(list->headerItem()->text(column), columns[column]);
        QStringList addresses;
        for (int row = 0; row < 2; ++row) {
            addresses << list->topLevelItem(row)->text(0);
            QCOMPARE(list->topLevelItem(row)->text(1), QStringLiteral("kv0"));
            QVERIFY2(list->topLevelItem(row)->text(2).endsWith(ago), qPrintable(list->topLevelItem(row)->text(2)));
        }
        addresses.sort();
        QCOMPARE(addresses, (QStringList{kFirst, kSecond}));
        QVERIFY(!window->Sheet()->NextButton()->isEnabled());
        QVERIFY(window->Sheet()->BackButton()->isEnabled());
        QVERIFY2(!link->ConnectChosenButton()->isEnabled(), "nothing chosen yet");
        QCOMPARE(TheWizardJob().linkState, int(LinkListening));
        QTest::qWait(300);   // three more announces of each: still nobody is logged in to
        QVERIFY2(FramesIn(QStringLiteral("first.log"), 2).isEmpty(), qPrintable(FramesIn(QStringLiteral("first.log"), 2).join('\n')));
        QVERIFY(FramesIn(QStringLiteral("second.log"), 2).isEmpty());

        const int second = list->topLevelItem(0)->text(0) == kSecond ? 0 : 1;
        list->setCurrentItem(list->topLevelItem(second));
        QVERIFY(link->ConnectChosenButton()->isEnabled());
        QTest::mouseClick(link->ConnectChosenButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(TheWizardJob().linkState, int(LinkConnected), 10000);
        QCOMPARE(QString::fromStdString(TheWizardJob().connectedWith), kSecond);
        QVERIFY(!list->isVisible());
        QVERIFY(window->Sheet()->NextButton()->isEnabled());
        QCOMPARE(FramesIn(QStringLiteral("second.log"), 2).size(), 1);
        QVERIFY(FramesIn(QStringLiteral("first.log"), 2).isEmpty());
        QVERIFY(FramesIn(QStringLiteral("first.log"), 5).isEmpty());
        QVERIFY2(watcher.messages.isEmpty(), qPrintable(watcher.messages.join(QLatin1Char('\n'))));
        window->close();
        res::SetLanguage(res::Language::English);
    }

    void namesTheOtherTarget_data() {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("line");   // %1: the other target's address
        QTest::newRow("English") << int(res::Language::English)
                                 << QStringLiteral("Another target also answers: %1. Start with --target %1 to choose it.");
        QTest::newRow("Chinese") << int(res::Language::Chinese)
                                 << QStringLiteral("另一台设备也在应答：%1。如要选择它，请用 --target %1 启动本程序。");
    }

    void namesTheOtherTarget() {
        QFETCH(int, language);
        QFETCH(QString, line);
        res::SetLanguage(static_cast<res::Language>(language));
        QVERIFY(StartFirst());
        DialogWatcher watcher;
        ProgramFolder folder;
        auto window = Open(folder, std::nullopt);
        LogIn(*window);
        QTRY_COMPARE_WITH_TIMEOUT(TheWizardJob().linkState, int(LinkConnected), 10000);
        QCOMPARE(QString::fromStdString(TheWizardJob().connectedWith), kFirst);
        // The second comes up once the wizard is logged in to the first.
        QVERIFY(StartSecond());
        const QString expected = line.arg(kSecond);

        auto* link = static_cast<CPageLink*>(window->PageAt(PageLinkIndex));
        QTRY_VERIFY_WITH_TIMEOUT(link->OtherTargetsText()->isVisible(), 5000);
        QCOMPARE(link->OtherTargetsText()->text(), expected);

        // The download page's summary says it too, under the target in use.
        window->Sheet()->SetActivePage(PageBurnIndex);
        auto* burn = static_cast<CPageBurn*>(window->PageAt(PageBurnIndex));
        QVERIFY2(QString::fromStdString(burn->SummaryText()).contains(expected + QStringLiteral("\r\n")),
                 qPrintable(QString::fromStdString(burn->SummaryText())));
        window->close();
        res::SetLanguage(res::Language::English);
    }

    void theChosenTargetIsNamedInTheTitle() {
        QVERIFY(StartFirst());
        QVERIFY(StartSecond());
        DialogWatcher watcher;
        ProgramFolder folder;
        auto window = Open(folder, fdp::MacAddress{0x02, 0x4b, 0x56, 0x00, 0x00, 0x12});
        QCOMPARE(window->windowTitle(), QStringLiteral("Kelvane - adapter kv0, target ") + kSecond);
        LogIn(*window);
        QTRY_COMPARE_WITH_TIMEOUT(TheWizardJob().linkState, int(LinkConnected), 10000);
        QCOMPARE(QString::fromStdString(TheWizardJob().connectedWith), kSecond);
        QCOMPARE(window->windowTitle(), QStringLiteral("Kelvane - adapter kv0, target ") + kSecond);
        QTest::qWait(500);   // five announces of the other one
        auto* link = static_cast<CPageLink*>(window->PageAt(PageLinkIndex));
        QVERIFY2(!link->OtherTargetsText()->isVisible(), qPrintable(link->OtherTargetsText()->text()));
        window->close();
    }

    // A whole program update with no pause between blocks: the progress is coalesced, yet
    // the report and the bar come out as at the default pace, and the report ends with
    // the version the target now reports.
    void updatesTheChosenTargetWithoutPacing_data() {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("versionLine");
        QTest::newRow("English") << int(res::Language::English) << QStringLiteral("The target now reports version 2.8.3.2");
        QTest::newRow("Chinese") << int(res::Language::Chinese) << QStringLiteral("设备现在报告的版本为 2.8.3.2");
    }

    void updatesTheChosenTargetWithoutPacing() {
        QFETCH(int, language);
        QFETCH(QString, versionLine);
        res::SetLanguage(static_cast<res::Language>(language));
        QVERIFY(StartFirst());
        QVERIFY(StartSecond());
        DialogWatcher watcher;
        ProgramFolder folder;
        const QString path = folder.File(QStringLiteral("program.bin"));
        {
            const auto image = fdp::MakeSampleFirmware(300000, fdp::FirmwareVersion{2, 8, 3, 2});
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly));
            QCOMPARE(out.write(reinterpret_cast<const char*>(image.data()), static_cast<qint64>(image.size())),
                     static_cast<qint64>(image.size()));
        }
        auto window = Open(folder, fdp::MacAddress{0x02, 0x4b, 0x56, 0x00, 0x00, 0x12}, 0);
        LogIn(*window);
        QTRY_COMPARE_WITH_TIMEOUT(TheWizardJob().linkState, int(LinkConnected), 10000);
        static_cast<CPageLink*>(window->PageAt(PageLinkIndex))->Radio(1003)->click();
        window->Sheet()->PressNext();
        QWidget* firmFile = window->PageAt(PageFirmFileIndex);
        qobject_cast<QCheckBox*>(FindControl(firmFile, 1012))->click();
        qobject_cast<QLineEdit*>(FindControl(firmFile, 1019))->setText(path);
        window->Sheet()->PressNext();
        QCOMPARE(window->Sheet()->ActiveIndex(), int(PageBurnIndex));
        auto* burn = static_cast<CPageBurn*>(window->PageAt(PageBurnIndex));
        window->Sheet()->PressNext();
        QTRY_COMPARE_WITH_TIMEOUT(burn->downloadState(), CPageBurn::DownloadState::Done, 20000);
        QCOMPARE(burn->ProgressBar()->value(), 1250);
        QTRY_VERIFY_WITH_TIMEOUT(QString::fromStdString(burn->ReportText()).endsWith(versionLine + QStringLiteral("\r\n")),
                                 5000);
        QCOMPARE(burn->downloadState(), CPageBurn::DownloadState::Done);
        if (language == int(res::Language::English)) {
            const QString report = QString::fromStdString(burn->ReportText());
            QCOMPARE(report.count(QStringLiteral("In transferring data...\r\n")), 1);
            QVERIFY2(report.contains(QStringLiteral("Burn program area successfully!\r\n") + versionLine), qPrintable(report));
        }
        QVERIFY2(watcher.messages.isEmpty(), qPrintable(watcher.messages.join(QLatin1Char('\n'))));
        window->close();
        res::SetLanguage(res::Language::English);
    }
};

int main(int argc, char** argv) {
    bench::EnterPcSide();
    QApplication app(argc, argv);
    res::SetLanguage(res::Language::English);
    SeveralTargetsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "SeveralTargetsTest.moc"
