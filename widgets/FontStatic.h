// A static text that paints itself: one line, centred both ways, in its own colour.
// Page titles, the guide dialog's heading and the About box's heading are font statics.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

class CFontStatic : public QWidget {
    Q_OBJECT
public:
    // windowText is the control's own text, shown while no text has been set.
    explicit CFontStatic(const QString& windowText = QString(), QWidget* parent = nullptr);

    // Stores the colour and repaints at once.
    void SetTextColour(const QColor& colour);
    // Stores the text; it shows at the next paint. An empty text brings back the
    // control's own text.
    void SetText(const QString& text);

    QColor TextColour() const { return m_textColour; }
    // What the control paints now.
    QString Text() const { return m_text.isEmpty() ? m_windowText : m_text; }
    QString WindowText() const { return m_windowText; }
    void SetWindowText(const QString& text);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_windowText;
    QColor m_textColour{0, 0, 255};
    QString m_text;
};
