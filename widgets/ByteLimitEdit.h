// A one-line edit that takes only as many UTF-8 bytes as the parameter behind it holds,
// so the user cannot type (or paste) a text the parameter store would refuse. Typing
// past the limit is ignored and a paste keeps what fits, never cutting a character.
// Text set by the program (restored settings) is left as it is: the store judges it.
#pragma once

#include <QLineEdit>

class CByteLimitEdit : public QLineEdit {
    Q_OBJECT
public:
    CByteLimitEdit(int maxBytes, QWidget* parent = nullptr);

    int ByteLimit() const { return m_maxBytes; }

private:
    void Trim(const QString& text);

    int m_maxBytes;
};
