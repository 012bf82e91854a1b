// The loop test page through the real main window: its radios, Next's checks and
// messages, and the dongle it opens and starts (a controller played by the test over
// the unix: transport, or a dongle path that does not exist).
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>
#include <memory>

#include "app/KelvaneDlg.h"
#include "hci/DongleLink.h"
#include "pages/FirmSheet.h"
#include "pages/LoopTestChoice.h"
#include "pages/PageCircleTest.h"
#include "pages/WizardJob.h"
#include "tests/gui/GuiSupport.h"
#include "tests/support/ScriptedController.h"

namespace {

const char* const kNoInterface = "kvnone";
constexpr int kIds[] = {1002, 1010, 1009, 1089, 1011, 1012};

hci::test::Bytes HealthyController(const hci::test::Bytes& packet) {
    if (packet.size() < 3 || packet[0] != 0x01) return {};
    const auto opcode = static_cast<std::uint16_t>(packet[1] | packet[2] << 8);
    if (opcode == 0x1009) return hci::test::CommandComplete(opcode, 0, {0x66, 0x55, 0x44, 0x33, 0x22, 0x1A});
    return hci::test::CommandComplete(opcode, 0);
}

}  // namespace

class LoopPageTest : public QObject {
    Q_OBJECT

private:
    static CPageCircleTest* Show(CKelvaneDlg& window) {
        window.Sheet()->SetActivePage(PageCircleTestIndex);
        return static_cast<CPageCircleTest*>(window.PageAt(PageCircleTestIndex));
    }
    static void Click(QAbstractButton* button) {
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
    }
    static void Next(CKelvaneDlg& window) { QTest::mouseClick(window.Sheet()->NextButton(), Qt::LeftButton); }
    static void Enter(QLineEdit* edit, const QString& text) {
        edit->selectAll();
        edit->del();
        QTest::keyClicks(edit, text);
    }

private slots:
    void radiosStayExclusiveAndSetTheChoices() {
        ProgramFolder folder;
        DialogWatcher watcher;   // the guide dialog of the missing adapter
        auto window = OpenMainWindow(folder, kNoInterface, true);
        CPageCircleTest* page = Show(*window);
        QCOMPARE(window->Sheet()->NextButton()->isVisible(), true);
        const auto checked = [page] {
            QString marks;
            for (int id : kIds) marks += page->Radio(id)->isChecked() ? QLatin1Char('x') : QLatin1Char('.');
            return marks;
        };
        QCOMPARE(checked(), QStringLiteral("......"));
        Click(page->Radio(1009));
        Click(page->Radio(1089));
        Click(page->Radio(1011));
        QCOMPARE(checked(), QStringLiteral("...xx."));
        const LoopTestChoice& choice = TheLoopTestChoice();
        QCOMPARE(choice.testDongle, 1);
        QCOMPARE(choice.testTarget, 0);
        QCOMPARE(choice.dongleMaster, 1);
        Click(page->Radio(1002));
        Click(page->Radio(1012));
        QCOMPARE(checked(), QStringLiteral("x....x"));
        QCOMPARE(choice.targetTestMode, 1);
        QCOMPARE(choice.testDongle, 0);
        QCOMPARE(choice.dongleMaster, 0);
        QCOMPARE(choice.dongleSlave, 1);
    }

    void nextChecksItsInputs_data() {
        QTest::addColumn<int>("test");   // the test choice clicked, 0 none
        QTest::addColumn<int>("role");   // the role clicked, 0 none
        QTest::addColumn<QString>("size");
        QTest::addColumn<QString>("speed");
        QTest::addColumn<QString>("message");
        const QString noDongle = QString::fromUtf8(hci::kNoDongleMessage);
        const QString size = QStringLiteral("Please input a number(1<=number<=1000) in DataSize Area!");
        const QString speed = QStringLiteral("Please input a number(10<=number<=80)in Speed Area!");
        QTest::newRow("no test") << 0 << 1011 << "10" << "10" << "Please select a task!";
        QTest::newRow("no role") << 1009 << 0 << "10" << "10" << "Dongle is Master Or Slave?";
        QTest::newRow("role needed for a test mode too") << 1002 << 0 << "10" << "10" << "Dongle is Master Or Slave?";
        QTest::newRow("size 0") << 1009 << 1011 << "0" << "10" << size;
        QTest::newRow("size 1001") << 1089 << 1012 << "1001" << "10" << size;
        QTest::newRow("speed 9") << 1009 << 1011 << "1" << "9" << speed;
        QTest::newRow("speed 81") << 1009 << 1011 << "1000" << "81" << speed;
        QTest::newRow("not a number") << 1009 << 1011 << "" << "10" << "Please enter an integer.";
        // Accepted values go on to the dongle, which is missing here.
        QTest::newRow("size 1 speed 10") << 1009 << 1011 << "1" << "10" << noDongle;
        QTest::newRow("size 1000 speed 80") << 1010 << 1012 << "1000" << "80" << noDongle;
    }
    void nextChecksItsInputs() {
        QFETCH(int, test);
        QFETCH(int, role);
        QFETCH(QString, size);
        QFETCH(QString, speed);
        QFETCH(QString, message);
        ProgramFolder folder;
        DialogWatcher watcher;
        auto window = OpenMainWindow(folder, kNoInterface, true, "unix:/nonexistent/kelvane-dongle");
        CPageCircleTest* page = Show(*window);
        if (test) Click(page->Radio(test));
        if (role) Click(page->Radio(role));
        Enter(page->Edit(1090), size);
        Enter(page->Edit(1096), speed);
        watcher.messages.clear();
        Next(*window);
        QTRY_COMPARE(watcher.messages, QStringList{message});
        QCOMPARE(window->Sheet()->ActiveIndex(), int{PageCircleTestIndex});
        QVERIFY(!TheDongleLink().IsOpen());
    }

    // Why the dongle did not serve shows under the system's message, where the
    // technician can act on it.
    void aDongleThatDoesNotServeSaysWhy_data() {
        QTest::addColumn<QString>("device");   // HANGUP: a controller that hangs up at once
        QTest::addColumn<QString>("reason");
        QTest::newRow("no such socket") << "unix:/nonexistent/kelvane-dongle"
                                        << "/nonexistent/kelvane-dongle: no such device";
        QTest::newRow("not a device") << "nonsense" << "not a Bluetooth device";
        QTest::newRow("hangs up while started") << "HANGUP" << "the dongle closed its channel";
    }
    void aDongleThatDoesNotServeSaysWhy() {
        QFETCH(QString, device);
        QFETCH(QString, reason);
        hci::test::ScriptedController controller;
        const bool hangUp = device == QStringLiteral("HANGUP");
        if (hangUp) {
            // Hangs up on the first command, as a dongle pulled out while it starts.
            device = QString::fromStdString(controller.Device());
            controller.SetResponder([&controller](const hci::test::Bytes&) {
                controller.HangUp();
                return hci::test::Bytes{};
            });
        }
        ProgramFolder folder;
        DialogWatcher watcher;
        auto window = OpenMainWindow(folder, kNoInterface, true, device.toStdString());
        CPageCircleTest* page = Show(*window);
        Click(page->Radio(1009));
        Click(page->Radio(1011));
        Enter(page->Edit(1090), QStringLiteral("100"));
        Enter(page->Edit(1096), QStringLiteral("20"));
        watcher.messages.clear();
        watcher.details.clear();
        Next(*window);
        QTRY_COMPARE(watcher.messages,
                     QStringList{QStringLiteral(" There is no USB device in the port or the usb port is used by other program!")});
        QCOMPARE(watcher.details.size(), 1);
        QVERIFY2(watcher.details[0].contains(reason), qPrintable(watcher.details[0]));
        QCOMPARE(window->Sheet()->ActiveIndex(), int{PageCircleTestIndex});
        QVERIFY(!TheDongleLink().IsOpen());
    }

    void nextOpensAndStartsTheDongle_data() {
        QTest::addColumn<int>("test");
        QTest::addColumn<bool>("scans");
        QTest::newRow("target test mode") << 1002 << false;
        QTest::newRow("dongle test mode") << 1010 << false;
        QTest::newRow("test target") << 1009 << true;
        QTest::newRow("test dongle") << 1089 << true;
    }
    void nextOpensAndStartsTheDongle() {
        QFETCH(int, test);
        QFETCH(bool, scans);
        hci::test::ScriptedController controller;
        controller.SetResponder(HealthyController);
        ProgramFolder folder;
        DialogWatcher watcher;
        auto window = OpenMainWindow(folder, kNoInterface, true, controller.Device());
        CPageCircleTest* page = Show(*window);
        Click(page->Radio(test));
        Click(page->Radio(1011));
        Enter(page->Edit(1090), QStringLiteral("100"));
        Enter(page->Edit(1096), QStringLiteral("20"));
        watcher.messages.clear();
        Next(*window);
        QTRY_COMPARE(window->Sheet()->ActiveIndex(), int{PageBurnIndex});
        QVERIFY(watcher.messages.isEmpty());
        std::vector<std::uint16_t> opcodes;
        for (const auto& packet : controller.Received()) opcodes.push_back(static_cast<std::uint16_t>(packet[1] | packet[2] << 8));
        // HCI_Reset, HCI_Read_BD_ADDR, HCI_Write_Scan_Enable.
        std::vector<std::uint16_t> expected = {0x0C03, 0x1009};
        if (scans) expected.push_back(0x0C1A);
        QCOMPARE(opcodes, expected);
        QCOMPARE(TheDongleLink().DongleAddressText(), std::string("1a:22:33:44:55:66"));
        QCOMPARE(TheLoopTestChoice().loopDataSize, 100u);
        QCOMPARE(TheLoopTestChoice().loopSpeed, 20u);
        // Closing the window lets go of the controller.
        window->close();
        QVERIFY(!TheDongleLink().IsOpen());
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    LoopPageTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "LoopPageTest.moc"
