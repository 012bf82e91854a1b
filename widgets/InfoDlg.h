// The "User Guide Info" dialog, the wizard's own message box: one message with any
// combination of the buttons Yes, No and Ok. The message is painted, never put into a
// text control, so it cannot be selected or copied.
#pragma once

#include <QColor>
#include <QDialog>
#include <QString>

class QPushButton;
class CFontStatic;

class CInfoDlg : public QDialog {
    Q_OBJECT
public:
    enum Button { ButtonYes = 1, ButtonNo = 2, ButtonOk = 4 };
    enum Result { ResultOk = 1, ResultCancel = 2, ResultYes = 6, ResultNo = 7 };

    CInfoDlg(const QString& message, QWidget* parent, const QColor& textColour = Qt::black);

    // Which buttons run() offers; replaces the previous mask. 0 offers none: the dialog
    // then closes only through its close box.
    void SetButtons(int mask) { m_buttonMask = mask; }
    // Runs modally: 6 Yes, 7 No, 1 Ok, 2 when closed by the close box or Escape.
    int Run();

    QString Message() const { return m_message; }
    QColor TextColour() const { return m_textColour; }
    int ButtonMask() const { return m_buttonMask; }

    void reject() override;

private:
    class MessageArea;

    void OnInitDialog();

    int m_buttonMask = 0;
    CFontStatic* m_heading;
    MessageArea* m_messageArea;
    QColor m_textColour;
    QString m_message;
    QPushButton* m_yes;
    QPushButton* m_no;
    QPushButton* m_ok;
};
