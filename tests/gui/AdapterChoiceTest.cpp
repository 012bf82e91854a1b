// The wizard on a PC with three Ethernet adapters: two with nothing behind them, made
// first, and the target's, present at start or plugged in while the wizard listens.
// Named by a pattern (--interface 'kv*') the wizard connects through the target's adapter
// and its title says which adapter and which target; with one name it keeps the named
// one; unnamed, the bench's veths carry no login and the connection page says how to
// name one.
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <memory>

#include "app/KelvaneDlg.h"
#include "pages/FirmSheet.h"
#include "pages/PageLink.h"
#include "pages/PagePasswd.h"
#include "pages/WizardJob.h"
#include "resources/strings/StringTable.h"
#include "tests/gui/GuiSupport.h"

namespace {

constexpr int kAnnounceMs = 1000;

}  // namespace

class AdapterChoiceTest : public QObject {
    Q_OBJECT

private:
    bool PlugTarget() {
        return bench::Run({QStringLiteral("up")}) &&
               m_target.Start({QStringLiteral("--announce-ms"), QString::number(kAnnounceMs)});
    }

    SimulatedTarget m_target;

private slots:
    void init() {
        KELVANE_REQUIRE_BENCH();
        QVERIFY(bench::Run({QStringLiteral("unplug")}));
        QVERIFY(bench::Run({QStringLiteral("spares"), QStringLiteral("up")}));
        TheWizardJob() = WizardJob{};
    }
    void cleanup() {
        m_target.Stop();
        bench::Run({QStringLiteral("spares"), QStringLiteral("down")});
        bench::Run({QStringLiteral("up")});
    }

    void connectsThroughTheTargetsAdapter_data() {
        QTest::addColumn<bool>("pluggedLate");
        QTest::addColumn<QString>("interfaceName");
        QTest::addColumn<bool>("connects");
        QTest::newRow("present at start") << false << QStringLiteral("kv*") << true;
        QTest::newRow("plugged in while listening") << true << QStringLiteral("kv*") << true;
        QTest::newRow("--interface names an empty adapter") << false << QStringLiteral("kvx1") << false;
        QTest::newRow("no --interface: veths are not used") << false << QString() << false;
    }

    void connectsThroughTheTargetsAdapter() {
        QFETCH(bool, pluggedLate);
        QFETCH(QString, interfaceName);
        QFETCH(bool, connects);
        if (!pluggedLate) QVERIFY(PlugTarget());

        DialogWatcher watcher;
        ProgramFolder folder;
        CKelvaneDlg::Options options;
        options.interfaceName = interfaceName.toStdString();
        options.programFolder = folder.Path().toStdString();
        auto window = std::make_unique<CKelvaneDlg>(options);
        window->show();
        window->Start();
        QVERIFY2(watcher.messages.isEmpty(), qPrintable(watcher.messages.join(QLatin1Char('\n'))));
        // The best ranked adapter is used until the target answers elsewhere.
        QCOMPARE(window->windowTitle(), QStringLiteral("Kelvane - adapter kvx1"));

        QTest::mouseClick(window->Sheet()->NextButton(), Qt::LeftButton);
        auto* passwd = static_cast<CPagePasswd*>(window->PageAt(PagePasswdIndex));
        passwd->PasswordEdit()->setText(QStringLiteral("kiwi"));
        QTest::mouseClick(window->Sheet()->NextButton(), Qt::LeftButton);
        QCOMPARE(TheWizardJob().linkState, int(LinkListening));

        QElapsedTimer sincePlugged;
        if (pluggedLate) {
            QTest::qWait(2000);
            QVERIFY(PlugTarget());
        }
        sincePlugged.start();
        if (!connects) {
            QTest::qWait(3 * kAnnounceMs);
            QCOMPARE(TheWizardJob().linkState, int(LinkListening));
            QCOMPARE(window->windowTitle(), QStringLiteral("Kelvane - adapter kvx1"));
            // Unnamed, the page names the veths that are up and how to name one, once
            // nothing has answered for a while; a user who named an adapter is not told.
            auto* link = static_cast<CPageLink*>(window->PageAt(PageLinkIndex));
            QTest::qWait(CPageLink::kNameHintAfterMs + 500 - 3 * kAnnounceMs);
            QCOMPARE(link->NameHintText()->isVisible(), interfaceName.isEmpty());
            if (interfaceName.isEmpty()) {
                const QString hint = link->NameHintText()->text();
                QVERIFY2(hint.contains(QStringLiteral("Virtual adapters (kvx1, kvx2, kv0) are used only when named")),
                         qPrintable(hint));
                QVERIFY2(hint.contains(QStringLiteral("kelvane --interface kvx1")), qPrintable(hint));
            }
            QCOMPARE(TheWizardJob().linkState, int(LinkListening));
            window->close();
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(TheWizardJob().linkState, int(LinkConnected), 10000);
        if (pluggedLate) QVERIFY2(sincePlugged.elapsed() < kAnnounceMs + 1000, qPrintable(QString::number(sincePlugged.elapsed())));
        QCOMPARE(window->windowTitle(), QStringLiteral("Kelvane - adapter kv0, target 02:4b:56:00:00:02"));
        QVERIFY2(watcher.messages.isEmpty(), qPrintable(watcher.messages.join(QLatin1Char('\n'))));
        window->close();
    }
};

int main(int argc, char** argv) {
    bench::EnterPcSide();
    QApplication app(argc, argv);
    res::SetLanguage(res::Language::English);
    AdapterChoiceTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "AdapterChoiceTest.moc"
