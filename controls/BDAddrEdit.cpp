#include "controls/BDAddrEdit.h"

#include <QDialog>
#include <QKeyEvent>
#include <algorithm>

#include "controls/BDAddrCtl.h"
#include "widgets/ControlId.h"

namespace {

bool IsControlCharacter(const QString& typed) {
    return typed.size() == 1 && (typed.front().unicode() < 0x20 || typed.front().unicode() == 0x7F);
}

}  // namespace

CBDAddrEdit::CBDAddrEdit(CBDAddrCtl& control, int id) : QLineEdit(&control), m_control(control), m_id(id) {
    SetControlId(this, id);
    setMaxLength(2);
    setFrame(false);
    // The control paints its colons bottom-aligned; the digits sit on the same line.
    setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
    // The control is the dialog's tab stop; its fields are reached from it.
    setFocusPolicy(Qt::ClickFocus);
    // Composed input would bypass the character checks below.
    setAttribute(Qt::WA_InputMethodEnabled, false);
    connect(this, &QLineEdit::textEdited, this, &CBDAddrEdit::OnTextEdited);
}

bool CBDAddrEdit::IsHexDigit(QChar character) {
    const char16_t c = character.unicode();
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

bool CBDAddrEdit::event(QEvent* event) {
    // Tab would otherwise walk from field to field; it leaves the control instead.
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const bool tab = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
        if (tab && !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            const bool back = key->key() == Qt::Key_Backtab || (key->modifiers() & Qt::ShiftModifier);
            m_control.OnChildChar(CBDAddrCtl::ChildCode::Tab, this, back);
            return true;
        }
    }
    return QLineEdit::event(event);
}

void CBDAddrEdit::keyPressEvent(QKeyEvent* event) {
    using Code = CBDAddrCtl::ChildCode;
    switch (event->key()) {
    case Qt::Key_Escape:
        if (CancelDialog()) return;
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        m_control.OnChildChar(Code::Enter, this);
        return;
    case Qt::Key_Left:
        if (cursorPosition() == 0) m_control.OnChildChar(Code::Left, this);
        break;
    case Qt::Key_Right:
        if (cursorPosition() == text().size()) m_control.OnChildChar(Code::Right, this);
        break;
    default:
        break;
    }

    const QString typed = event->text();
    // Only Ctrl and Ctrl+Shift make a shortcut (copy, paste, select all). Qt inserts the
    // text of an Alt, Meta or Ctrl+Alt (AltGr) key, so those are checked as typing.
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const bool commandKey = modifiers == Qt::ControlModifier || modifiers == (Qt::ControlModifier | Qt::ShiftModifier);
    bool digits = false;
    if (!typed.isEmpty() && !commandKey && !IsControlCharacter(typed)) {
        if (typed == QLatin1String(" ") || typed == QLatin1String(":")) {
            m_control.OnChildChar(Code::NextField, this);
            return;
        }
        if (!std::all_of(typed.begin(), typed.end(), IsHexDigit)) {
            m_control.RefuseChar(this, typed.front());
            return;
        }
        digits = true;
    }

    // Digits, control characters, editing keys and shortcuts (paste among them).
    m_inKey = true;
    m_editedInKey = false;
    QLineEdit::keyPressEvent(event);
    m_inKey = false;
    // A digit typed into a full field moves on as well; another key only when it has
    // just filled the field (so that copying from a full field stays there).
    if ((digits || m_editedInKey) && text().size() == 2) m_control.OnChildChar(Code::FieldFull, this);
}

void CBDAddrEdit::OnTextEdited() {
    if (m_inKey) {
        m_editedInKey = true;
        return;
    }
    // Pasted from the context menu or dropped: check once the menu or the drag is over.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (text().size() == 2) m_control.OnChildChar(CBDAddrCtl::ChildCode::FieldFull, this);
        },
        Qt::QueuedConnection);
}

bool CBDAddrEdit::CancelDialog() {
    auto* dialog = qobject_cast<QDialog*>(m_control.window());
    if (!dialog) return false;
    dialog->reject();
    return true;
}
