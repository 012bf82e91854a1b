#include "widgets/FontStatic.h"

#include <QPainter>

CFontStatic::CFontStatic(const QString& windowText, QWidget* parent)
    : QWidget(parent), m_windowText(windowText) {
    setAttribute(Qt::WA_TranslucentBackground);
}

void CFontStatic::SetTextColour(const QColor& colour) {
    m_textColour = colour;
    repaint();
}

void CFontStatic::SetText(const QString& text) {
    m_text = text;
    updateGeometry();
    update();
}

void CFontStatic::SetWindowText(const QString& text) {
    m_windowText = text;
    updateGeometry();
    update();
}

QSize CFontStatic::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(Text()) + 8, metrics.height() + 6};
}

QSize CFontStatic::minimumSizeHint() const {
    return {0, QFontMetrics(font()).height() + 2};
}

void CFontStatic::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(m_textColour);
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, Text());
}
