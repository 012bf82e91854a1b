// Saves a picture of the whole X display as PNG: the installed wizard is a separate
// process, so the package test cannot grab its window from inside.
//   kelvane_screen_grab OUT.png      (DISPLAY names the display)
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kelvane_screen_grab OUT.png\n");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen || !screen->grabWindow(0).save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "kelvane_screen_grab: cannot save %s\n", argv[1]);
        return 1;
    }
    return 0;
}
