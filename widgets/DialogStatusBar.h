// The main window's status bar: one stretching pane for help texts and the link's
// status.
#pragma once

#include <QStatusBar>

class QLabel;

class CDialogStatusBar : public QStatusBar {
    Q_OBJECT
public:
    static constexpr int kControlId = 0xE801;

    explicit CDialogStatusBar(QWidget* parent = nullptr);

    void SetPaneText(const QString& text);
    QString PaneText() const;

private:
    QLabel* m_pane;
};
