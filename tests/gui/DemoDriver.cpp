// The demo: the real wizard window, led through its first steps to a connection with
// the target on the interface given, then saved as a picture. It stays open for the
// user unless --exit is given.
//   kelvane_demo --interface kv0 --password kiwi --screenshot demo.png [--exit]
#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>
#include <cstdio>

#include "app/KelvaneApp.h"
#include "app/KelvaneDlg.h"
#include "pages/FirmSheet.h"
#include "pages/PagePasswd.h"
#include "pages/WizardJob.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption interface(QStringLiteral("interface"), QStringLiteral("Ethernet interface"), QStringLiteral("IF"));
    const QCommandLineOption password(QStringLiteral("password"), QStringLiteral("target password"), QStringLiteral("TEXT"),
                                      QStringLiteral("kiwi"));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"), QStringLiteral("picture file"), QStringLiteral("PNG"));
    const QCommandLineOption exitAfter(QStringLiteral("exit"), QStringLiteral("close after the picture"));
    parser.addOptions({interface, password, screenshot, exitAfter});
    parser.process(app);
    CKelvaneApp::SelectLanguage();

    CKelvaneDlg::Options options;
    options.interfaceName = parser.value(interface).toStdString();
    CKelvaneDlg window(options);
    window.show();
    window.Start();

    QTimer::singleShot(500, &window, [&] {
        window.Sheet()->PressNext();
        auto* passwd = static_cast<CPagePasswd*>(window.PageAt(PagePasswdIndex));
        passwd->PasswordEdit()->setText(parser.value(password));
        window.Sheet()->PressNext();
    });
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &window, [&] {
        const bool connected = TheWizardJob().linkState == LinkConnected;
        if (!connected && elapsed.elapsed() < 45000) return;
        poll.stop();
        std::printf("demo: %s\n", connected ? "connected with the target" : "no connection after 45 s");
        // Let the connected state paint before the picture is taken.
        QTimer::singleShot(300, &window, [&] {
            if (parser.isSet(screenshot)) {
                const bool saved = window.grab().save(parser.value(screenshot));
                std::printf("demo: picture %s %s\n", qPrintable(parser.value(screenshot)), saved ? "saved" : "NOT saved");
            }
            std::fflush(stdout);
            if (parser.isSet(exitAfter)) window.close();
        });
    });
    poll.start(100);
    if (window.isVisible()) window.exec();
    return TheWizardJob().linkState == LinkConnected ? 0 : 1;
}
