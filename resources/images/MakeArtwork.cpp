// Draws the program's own artwork: the window icon (kelvane.png, and the desktop menu's
// icon-48.png, icon-128.png, icon-256.png), the picture strip at
// the main window's left edge (bitmap132.png) and the small banner of the About box and
// the guide dialog (bitmap133.png). Run by hand when the pictures change:
//   g++ -std=c++20 -fPIC MakeArtwork.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/make-artwork
//   QT_QPA_PLATFORM=offscreen /tmp/make-artwork resources/images
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

const QColor kNavy(0x0b, 0x2f, 0x5c);
const QColor kTeal(0x15, 0x7a, 0x8c);
const QColor kCyan(0x5f, 0xd3, 0xf3);

// Radio waves rising from a mast: the access point.
void DrawWaves(QPainter& p, QPointF centre, double radius, int count, const QColor& colour, double width) {
    p.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    for (int i = 1; i <= count; ++i) {
        const double r = radius * i / count;
        p.drawArc(QRectF(centre.x() - r, centre.y() - r, 2 * r, 2 * r), 35 * 16, 110 * 16);
    }
}

// A box with three ports: the target.
void DrawBox(QPainter& p, QRectF box, const QColor& body, const QColor& ports) {
    p.setPen(Qt::NoPen);
    p.setBrush(body);
    p.drawRoundedRect(box, box.height() / 5, box.height() / 5);
    p.setBrush(ports);
    const double side = box.height() * 0.36;
    for (int i = 0; i < 3; ++i) {
        const double x = box.left() + box.width() * (0.2 + 0.25 * i);
        p.drawRect(QRectF(x, box.center().y() - side / 2, side, side));
    }
}

// Drawn on a 64-pixel grid and scaled, so that the desktop's sizes are sharp too;
// kelvane.svg beside it draws the same shapes.
QImage Icon(int size = 64) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    QLinearGradient fill(0, 0, 0, 64);
    fill.setColorAt(0, kNavy);
    fill.setColorAt(1, kTeal);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
    DrawWaves(p, QPointF(32, 36), 22, 3, kCyan, 3.5);
    p.setBrush(kCyan);
    p.drawEllipse(QPointF(32, 36), 3.5, 3.5);
    DrawBox(p, QRectF(14, 43, 36, 12), Qt::white, kNavy);
    return image;
}

QImage Strip() {
    QImage image(128, 400, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 0, 400);
    fill.setColorAt(0, kNavy);
    fill.setColorAt(1, kTeal);
    p.fillRect(image.rect(), fill);
    DrawWaves(p, QPointF(64, 110), 52, 3, QColor(255, 255, 255, 110), 4);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(64, 110), 5, 5);
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawRect(QRectF(61.5, 114, 5, 40));
    DrawBox(p, QRectF(28, 154, 72, 26), Qt::white, kNavy);
    // A cable down to the PC below.
    p.setPen(QPen(QColor(255, 255, 255, 150), 3));
    p.drawLine(QPointF(64, 180), QPointF(64, 236));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 220));
    p.drawRoundedRect(QRectF(36, 236, 56, 36), 4, 4);
    p.setBrush(kNavy);
    p.drawRect(QRectF(41, 241, 46, 26));
    p.setBrush(QColor(255, 255, 255, 220));
    p.drawRect(QRectF(54, 272, 20, 6));
    p.drawRect(QRectF(44, 278, 40, 4));
    QFont font(QStringLiteral("DejaVu Sans"), 17, QFont::Bold);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(0, 320, 128, 40), Qt::AlignCenter, QStringLiteral("Kelvane"));
    return image;
}

QImage Banner() {
    QImage image(102, 26, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 102, 0);
    fill.setColorAt(0, kNavy);
    fill.setColorAt(1, kTeal);
    p.fillRect(image.rect(), fill);
    DrawWaves(p, QPointF(13, 19), 12, 2, kCyan, 2);
    p.setPen(Qt::NoPen);
    p.setBrush(kCyan);
    p.drawEllipse(QPointF(13, 19), 2, 2);
    QFont font(QStringLiteral("DejaVu Sans"), 9, QFont::Bold);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(28, 0, 74, 26), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Kelvane"));
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    const bool ok = Icon().save(folder + QStringLiteral("/kelvane.png")) &&
                    Strip().save(folder + QStringLiteral("/bitmap132.png")) &&
                    Banner().save(folder + QStringLiteral("/bitmap133.png")) &&
                    Icon(48).save(folder + QStringLiteral("/icon-48.png")) &&
                    Icon(128).save(folder + QStringLiteral("/icon-128.png")) &&
                    Icon(256).save(folder + QStringLiteral("/icon-256.png"));
    return ok ? 0 : 1;
}
