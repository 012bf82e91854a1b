// The status bar's help under the cursor and the window's messages.

#include "app/KelvaneDlg.h"

#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QMessageBox>
#include <QMouseEvent>
#include <QWindow>

#include "widgets/ControlId.h"
#include "widgets/DialogStatusBar.h"
#include "widgets/DialogText.h"
#include "widgets/InfoDlg.h"

void CKelvaneDlg::SetStatusText(const QString& text) {
    if (text.isNull()) return;
    m_statusBar->SetPaneText(text);
}

QString CKelvaneDlg::StatusPaneText() const { return m_statusBar->PaneText(); }

void CKelvaneDlg::ShowStatusText(int controlId) {
    QString text;
    if (controlId == CDialogStatusBar::kControlId) {
        text = QString::fromStdString(m_frontEnd.resultText());
    } else {
        if (controlId > 0) text = ResString(static_cast<unsigned>(controlId));
        if (text.isEmpty()) text = QString::fromStdString(m_frontEnd.statusText());
    }
    SetStatusText(text);
}

// The main window gives 0; a part of a composite control (a combo box's list, an
// edit's viewport) gives the control's id; any other window its own id, which is -1
// for controls without one.
int CKelvaneDlg::ControlIdAt(QWidget* widget) const {
    while (widget && widget != this) {
        const int id = ControlIdOf(widget);
        if (id != kNoControlId) return id;
        QWidget* parent = widget->parentWidget();
        const bool part = qobject_cast<QAbstractScrollArea*>(parent) || qobject_cast<QComboBox*>(parent) ||
                          qobject_cast<QAbstractSpinBox*>(parent);
        if (!part) return kNoControlId;
        widget = parent;
    }
    return 0;
}

// The help follows the window under the cursor on every move. Enter events would not
// do: a parent gets none when the pointer comes back to it from a child. Every move
// over the main window reaches its native window first, whichever child is under it.
bool CKelvaneDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove && watched == windowHandle()) {
        const QPoint position = static_cast<QMouseEvent*>(event)->position().toPoint();
        QWidget* under = childAt(position);
        ShowStatusText(ControlIdAt(under ? under : this));
    }
    return QDialog::eventFilter(watched, event);
}

int CKelvaneDlg::ShowInfo(const QString& message, int buttonMask, QWidget* parent) {
    CInfoDlg dialog(message, parent ? parent : this, Qt::black);
    dialog.SetButtons(buttonMask);
    return dialog.Run();
}

void CKelvaneDlg::ShowMessageBox(const std::string& text) {
    QMessageBox::warning(this, kCaption, QString::fromStdString(text), QMessageBox::Ok);
}
