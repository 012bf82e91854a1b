#include "widgets/IpAddressCtl.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QValidator>

namespace {

class FieldValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        if (input.isEmpty()) return Acceptable;
        if (input.size() > 3) return Invalid;
        for (const QChar c : input)
            if (c < QLatin1Char('0') || c > QLatin1Char('9')) return Invalid;
        return input.toInt() <= 255 ? Acceptable : Invalid;
    }
};

}  // namespace

CIpAddressCtl::CIpAddressCtl(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 1, 2, 1);
    layout->setSpacing(0);
    auto* validator = new FieldValidator(this);
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        if (i > 0) layout->addWidget(new QLabel(QStringLiteral("."), this));
        auto* field = new QLineEdit(this);
        field->setValidator(validator);
        field->setFrame(false);
        field->setAlignment(Qt::AlignCenter);
        field->setFixedWidth(field->fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 4);
        field->installEventFilter(this);
        m_fields[i] = field;
        layout->addWidget(field);
        if (i + 1 < m_fields.size()) {
            connect(field, &QLineEdit::textEdited, this, [this, i](const QString& text) {
                if (text.size() == 3) m_fields[i + 1]->setFocus(Qt::OtherFocusReason);
            });
        }
    }
    setFocusProxy(m_fields[0]);
}

std::array<std::uint8_t, 4> CIpAddressCtl::Address() const {
    std::array<std::uint8_t, 4> address{};
    for (std::size_t i = 0; i < m_fields.size(); ++i)
        address[i] = static_cast<std::uint8_t>(m_fields[i]->text().toUInt());   // blank: 0
    return address;
}

void CIpAddressCtl::SetAddress(const std::array<std::uint8_t, 4>& address) {
    for (std::size_t i = 0; i < m_fields.size(); ++i) m_fields[i]->setText(QString::number(address[i]));
}

void CIpAddressCtl::ClearAddress() {
    for (QLineEdit* field : m_fields) field->clear();
}

// A dot moves to the next field, as typing an address naturally goes.
bool CIpAddressCtl::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Period) {
        for (std::size_t i = 0; i + 1 < m_fields.size(); ++i) {
            if (watched == m_fields[i]) {
                m_fields[i + 1]->setFocus(Qt::OtherFocusReason);
                m_fields[i + 1]->selectAll();
                return true;
            }
        }
        return true;   // no field after the last
    }
    return QFrame::eventFilter(watched, event);
}
