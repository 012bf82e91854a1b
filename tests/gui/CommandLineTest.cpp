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
    void readsTheTargetAndThePace_data();
    void readsTheTargetAndThePace();
};

namespace {
CKelvaneOptions ParseWords(const QStringList& arguments) {
    std::vector<std::string> words = {"kelvane"};
    for (const QString& argument : arguments) words.push_back(argument.toStdString());
    std::vector<const char*> argv;
    for (const auto& word : words) argv.push_back(word.c_str());
    return CKelvaneOptions::Parse(static_cast<int>(argv.size()), argv.data());
}
}  // namespace

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
    const CKelvaneOptions options = ParseWords(arguments);
    QVERIFY(options.error.empty());
    const auto value = [](const QString& text) { return text == QStringLiteral("-") ? std::string() : text.toStdString(); };
    const std::string q = value(qpa), d = value(display), w = value(wayland);
    QCOMPARE(options.HasDisplay(qpa == "-" ? nullptr : q.c_str(), display == "-" ? nullptr : d.c_str(),
                                wayland == "-" ? nullptr : w.c_str()),
             shown);
}

// The address is kept as given: the application checks it, and a malformed one is told
// in a message box. The pace is 10 ms unless given.
void CommandLineTest::readsTheTargetAndThePace_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("target");
    QTest::addColumn<uint>("paceMs");
    QTest::addColumn<bool>("valid");

    QTest::newRow("neither") << QStringList{} << "" << 10u << true;
    QTest::newRow("dashes, capitals") << QStringList{"--target", "02-4B-56-00-00-12"} << "02-4B-56-00-00-12" << 10u << true;
    QTest::newRow("malformed kept") << QStringList{"--target=02:4b:56:00:00"} << "02:4b:56:00:00" << 10u << true;
    QTest::newRow("no pause") << QStringList{"--pace-ms", "0"} << "" << 0u << true;
    QTest::newRow("longest") << QStringList{"--pace-ms=100", "--target", "02:4b:56:00:00:11"} << "02:4b:56:00:00:11" << 100u
                             << true;
    QTest::newRow("too long") << QStringList{"--pace-ms", "101"} << "" << 10u << false;
    QTest::newRow("empty pace") << QStringList{"--pace-ms="} << "" << 10u << false;
    // Numbers no option takes: each a usage error, none an exception or a wrap-around.
    QTest::newRow("2^64") << QStringList{"--pace-ms", "18446744073709551616"} << "" << 10u << false;
    QTest::newRow("2^32") << QStringList{"--pace-ms", "4294967296"} << "" << 10u << false;
    QTest::newRow("negative") << QStringList{"--pace-ms", "-1"} << "" << 10u << false;
    QTest::newRow("exponent") << QStringList{"--pace-ms", "1e1"} << "" << 10u << false;
    QTest::newRow("empty word") << QStringList{"--pace-ms", ""} << "" << 10u << false;
    QTest::newRow("plus") << QStringList{"--pace-ms", "+5"} << "" << 10u << false;
    QTest::newRow("space") << QStringList{"--pace-ms", " 5"} << "" << 10u << false;
    QTest::newRow("trailing junk") << QStringList{"--pace-ms", "5ms"} << "" << 10u << false;
    QTest::newRow("empty target") << QStringList{"--target="} << "" << 10u << false;
}

void CommandLineTest::readsTheTargetAndThePace() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, target);
    QFETCH(uint, paceMs);
    QFETCH(bool, valid);
    const CKelvaneOptions options = ParseWords(arguments);
    QCOMPARE(options.error.empty(), valid);
    if (!valid) return;
    QCOMPARE(QString::fromStdString(options.target), target);
    QCOMPARE(options.paceMs, paceMs);
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "CommandLineTest.moc"
