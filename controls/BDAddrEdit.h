// One two-character field of CBDAddrCtl. Hexadecimal digits and editing keys are
// handled here; Tab, Enter, blank, ":", the arrows at the ends and a full field are
// handed to the control; any other character beeps and is dropped.
#pragma once

#include <QLineEdit>

class CBDAddrCtl;

class CBDAddrEdit : public QLineEdit {
    Q_OBJECT
public:
    CBDAddrEdit(CBDAddrCtl& control, int id);

    int Id() const { return m_id; }
    static bool IsHexDigit(QChar character);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OnTextEdited();
    // Escape in a dialog: the dialog's Cancel. False when the control is not in one.
    bool CancelDialog();

    CBDAddrCtl& m_control;
    const int m_id;
    // Inside keyPressEvent, which does the full-field check itself.
    bool m_inKey = false;
    bool m_editedInKey = false;
};
