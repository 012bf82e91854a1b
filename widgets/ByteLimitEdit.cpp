#include "widgets/ByteLimitEdit.h"

#include <algorithm>

#include "fdp/param/ParamTasks.h"

namespace {

QString Utf8Prefix(const QString& text, int maxBytes) {
    const QByteArray utf8 = text.toUtf8();
    const std::string_view kept = param::Utf8Prefix(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())),
                                                   static_cast<std::size_t>(std::max(maxBytes, 0)));
    return QString::fromUtf8(kept.data(), static_cast<qsizetype>(kept.size()));
}

}  // namespace

// No character limit (setMaxLength): it would also cut text the program sets.
CByteLimitEdit::CByteLimitEdit(int maxBytes, QWidget* parent) : QLineEdit(parent), m_maxBytes(maxBytes) {
    connect(this, &QLineEdit::textEdited, this, &CByteLimitEdit::Trim);
}

void CByteLimitEdit::Trim(const QString& text) {
    if (text.toUtf8().size() <= m_maxBytes) return;
    // Keep the text after the cursor and as much before it as leaves room for it, so
    // what was inserted last is what gives way.
    const int cursor = cursorPosition();
    const QString tail = text.mid(cursor);
    const int room = m_maxBytes - static_cast<int>(tail.toUtf8().size());
    const QString head = Utf8Prefix(text.left(cursor), room);
    QString result = head + tail;
    if (room < 0) result = Utf8Prefix(result, m_maxBytes);   // already too long before the edit
    setText(result);
    setCursorPosition(static_cast<int>(std::min(head.size(), result.size())));
}
