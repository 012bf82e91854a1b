#include "app/widgets/DialogStatusBar.h"

#include <QLabel>

#include "app/widgets/ControlId.h"

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

void CDialogStatusBar::SetPaneText(const QString& text) {
    m_pane->setText(text);
    m_pane->repaint();
}

QString CDialogStatusBar::PaneText() const { return m_pane->text(); }
