// Whether kelvane finds somewhere to show its window before it starts the toolkit: the
// platform named by -platform or QT_QPA_PLATFORM and the display it needs. (What each
// start prints, and its exit code, is in the command-line table of tests/unit/cli.)
#include <QtTest>

#include "app/KelvaneOptions.h"

class CommandLineTest : public QObject {
    Q_OBJECT

private slots:
    void knowsWhenThereIsADisplay_data();
    void knowsWhenThereIsADisplay();
};

void CommandLineTest::knowsWhenThereIsADisplay_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("qpa");          // QT_QPA_PLATFORM, "-" for unset
    QTest::addColumn<QString>("display");      // DISPLAY, "-" for unset
    QTest::addColumn<QString>("wayland");      // WAYLAND_DISPLAY, "-" for unset
    QTest::addColumn<bool>("shown");

    QTest::newRow("nothing") << QStringList{} << "-" << "-" << "-" << false;
    QTest::newRow("X") << QStringList{} << "-" << ":0" << "-" << true;
    QTest::newRow("Wayland") << QStringList{} << "-" << "-" << "wayland-0" << true;
    QTest::newRow("empty DISPLAY") << QStringList{} << "-" << "" << "-" << false;
    QTest::newRow("offscreen") << QStringList{} << "offscreen" << "-" << "-" << true;
    QTest::newRow("offscreen with arguments") << QStringList{} << "offscreen:fontengine=freetype" << "-" << "-" << true;
    QTest::newRow("xcb, no DISPLAY") << QStringList{} << "xcb" << "-" << "wayland-0" << false;
    QTest::newRow("wayland then xcb, X only") << QStringList{} << "wayland;xcb" << ":1" << "-" << true;
    QTest::newRow("wayland, none") << QStringList{} << "wayland" << ":1" << "-" << false;
    QTest::newRow("-platform wins") << QStringList{"-platform", "offscreen"} << "xcb" << "-" << "-" << true;
    QTest::newRow("-platform xcb wins") << QStringList{"-platform", "xcb"} << "offscreen" << "-" << "-" << false;
}

void CommandLineTest::knowsWhenThereIsADisplay() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, qpa);
    QFETCH(QString, display);
    QFETCH(QString, wayland);
    QFETCH(bool, shown);
    std::vector<std::string> words = {"kelvane"};
    for (const QString& argument : arguments) words.push_back(argument.toStdString());
    std::vector<const char*> argv;
    for (const auto& word : words) argv.push_back(word.c_str());
    const CKelvaneOptions options = CKelvaneOptions::Parse(static_cast<int>(argv.size()), argv.data());
    QVERIFY(options.error.empty());
    const auto value = [](const QString& text) { return text == QStringLiteral("-") ? std::string() : text.toStdString(); };
    const std::string q = value(qpa), d = value(display), w = value(wayland);
    QCOMPARE(options.HasDisplay(qpa == "-" ? nullptr : q.c_str(), display == "-" ? nullptr : d.c_str(),
                                wayland == "-" ? nullptr : w.c_str()),
             shown);
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "CommandLineTest.moc"
