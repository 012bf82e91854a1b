#include "widgets/DialogStatusBar.h"

#include <QLabel>

#include "widgets/ControlId.h"

CDialogStatusBar::CDialogStatusBar(QWidget* parent) : QStatusBar(parent), m_pane(new QLabel(this)) {
    setSizeGripEnabled(false);
    m_pane->setTextFormat(Qt::PlainText);
    // The pane must not widen the window for a long help text.
    m_pane->setMinimumWidth(1);
    m_pane->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    addWidget(m_pane, 1);
    SetControlId(this, kControlId);
    SetControlId(m_pane, kControlId);
}

// The pane is one line high: a text's line breaks (some status texts end in one) would
// grow the bar and push the sheet up.
void CDialogStatusBar::SetPaneText(const QString& text) {
    QString line = text;
    line.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    // The help text follows every mouse move; most moves change nothing.
    if (line == m_pane->text()) return;
    m_pane->setText(line);
    m_pane->repaint();
}

QString CDialogStatusBar::PaneText() const { return m_pane->text(); }
