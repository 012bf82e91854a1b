#include "controls/BDAddrCtl.h"

#include <QApplication>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionFrame>
#include <algorithm>

#include "controls/BDAddrEdit.h"
#include "widgets/ControlId.h"

namespace {

QString NotValidText(QChar character) { return QStringLiteral("%1 is not a valid entry.").arg(character); }

}  // namespace

CBDAddrCtl::CBDAddrCtl(QWidget* parent, unsigned style) : QWidget(parent), m_noCheck((style & kNoCheckStyle) != 0) {
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::IBeamCursor);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    // The sunken edge lies outside the client area the layout divides.
    const int edge = EdgeHeight();
    setContentsMargins(edge, edge, edge, edge);
    for (int k = 0; k < kFieldCount; ++k) m_fields[static_cast<std::size_t>(k)] = new CBDAddrEdit(*this, k + 1);
    UpdateColours();
    Layout();
}

CBDAddrCtl* CBDAddrCtl::Create(unsigned style, const QRect& rect, QWidget* parent, int id) {
    auto* control = new CBDAddrCtl(parent, style);
    control->setGeometry(rect);
    SetControlId(control, id);
    control->show();
    return control;
}

int CBDAddrCtl::GetAddress(bool reportFailure, BDAddrResult* result) {
    if (!result) return 0;
    *result = BDAddrResult{};
    std::uint8_t values[kFieldCount] = {};
    for (int id = 1; id <= kFieldCount; ++id) {
        CBDAddrEdit* field = Field(id);
        const QString text = field->text();
        const auto bad = std::find_if_not(text.begin(), text.end(), CBDAddrEdit::IsHexDigit);
        if (text.isEmpty() || bad != text.end()) {
            result->failingField = static_cast<std::uint32_t>(id);
            if (reportFailure) ShowError(text.isEmpty() ? QStringLiteral("Missing value in BD address") : NotValidText(*bad));
            FocusField(field);
            return 0;
        }
        values[id - 1] = static_cast<std::uint8_t>(text.toUInt(nullptr, 16));
    }
    std::copy(std::begin(values), std::end(values), result->address);
    result->failingField = 0;
    return 1;
}

int CBDAddrCtl::SetAddress(const std::uint8_t address[6]) {
    if (!address) return 0;
    for (int k = 0; k < kFieldCount; ++k) {
        m_fields[static_cast<std::size_t>(k)]->setText(QString::asprintf("%02X", address[k]));
    }
    return 1;
}

int CBDAddrCtl::SetReadOnly(bool readOnly) {
    m_readOnly = readOnly;
    for (CBDAddrEdit* field : m_fields) field->setReadOnly(readOnly);
    UpdateColours();
    update();
    return 1;
}

void CBDAddrCtl::OnChildChar(ChildCode code, CBDAddrEdit* field, bool back) {
    switch (code) {
    case ChildCode::Tab:
        if (QWidget* next = NextTabStop(back)) next->setFocus(back ? Qt::BacktabFocusReason : Qt::TabFocusReason);
        return;
    case ChildCode::Enter: {
        const auto buttons = window()->findChildren<QPushButton*>();
        const auto defaultButton = std::find_if(buttons.begin(), buttons.end(), [this](QPushButton* button) {
            return button->isDefault() && button->window() == window() && button->isVisible() && button->isEnabled();
        });
        if (defaultButton != buttons.end()) (*defaultButton)->click();
        return;
    }
    case ChildCode::NextField:
        if (CBDAddrEdit* next = Neighbour(field, +1)) FocusField(next);
        return;
    case ChildCode::Right:
        if (CBDAddrEdit* next = Neighbour(field, +1)) {
            next->setFocus(Qt::OtherFocusReason);
            next->setCursorPosition(0);
        }
        return;
    case ChildCode::Left:
        if (CBDAddrEdit* previous = Neighbour(field, -1)) {
            previous->setFocus(Qt::OtherFocusReason);
            previous->setCursorPosition(static_cast<int>(previous->text().size()));
        }
        return;
    case ChildCode::FieldFull:
        if (!m_noCheck) {
            const QString text = field->text();
            const auto bad = std::find_if_not(text.begin(), text.end(), CBDAddrEdit::IsHexDigit);
            if (bad != text.end()) {
                ShowError(NotValidText(*bad));
                FocusField(field);
                return;
            }
        }
        OnChildChar(ChildCode::NextField, field);
        return;
    }
}

void CBDAddrCtl::RefuseChar(CBDAddrEdit* field, QChar character) {
    QApplication::beep();
    emit CharRefused(field->Id(), character);
}

QSize CBDAddrCtl::sizeHint() const {
    const QFontMetrics metrics = fontMetrics();
    // Room for two digits and the field's own margins and caret.
    const int field = metrics.horizontalAdvance(QStringLiteral("DD")) + 10;
    const int colon = metrics.horizontalAdvance(QLatin1Char(':'));
    const QMargins margins = contentsMargins();
    return {kFieldCount * field + (kFieldCount - 1) * colon + margins.left() + margins.right(),
            std::max(metrics.height(), 14) + 2 + EdgeHeight() + margins.top() + margins.bottom()};
}

QSize CBDAddrCtl::minimumSizeHint() const {
    const QFontMetrics metrics = fontMetrics();
    const QSize hint = sizeHint();
    const int field = metrics.horizontalAdvance(QStringLiteral("DD")) + 4;
    const int colon = metrics.horizontalAdvance(QLatin1Char(':'));
    return {kFieldCount * field + (kFieldCount - 1) * colon + contentsMargins().left() + contentsMargins().right(),
            hint.height()};
}

void CBDAddrCtl::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Layout();
}

void CBDAddrCtl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QStyleOptionFrame frame;
    frame.initFrom(this);
    frame.lineWidth = EdgeHeight();
    frame.midLineWidth = 0;
    frame.state |= QStyle::State_Sunken;
    if (m_readOnly) frame.state |= QStyle::State_ReadOnly;
    frame.palette.setColor(QPalette::Base, Background());
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &frame, &painter, this);
    painter.fillRect(contentsRect(), Background());

    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
    for (const QRect& separator : m_separators) {
        painter.drawText(separator, Qt::AlignHCenter | Qt::AlignBottom | Qt::TextSingleLine, QStringLiteral(":"));
    }
}

void CBDAddrCtl::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    FocusField(Field(1));
}

void CBDAddrCtl::changeEvent(QEvent* event) {
    switch (event->type()) {
    case QEvent::FontChange:
        for (CBDAddrEdit* field : m_fields) field->setFont(font());
        Layout();
        updateGeometry();
        break;
    case QEvent::EnabledChange:
        // Qt enables and disables the fields with their parent.
        UpdateColours();
        update();
        break;
    case QEvent::StyleChange: {
        const int edge = EdgeHeight();
        setContentsMargins(edge, edge, edge, edge);
        Layout();
        UpdateColours();
        update();
        break;
    }
    case QEvent::PaletteChange:
        UpdateColours();
        update();
        break;
    default:
        break;
    }
    QWidget::changeEvent(event);
}

// Six fields of equal width f with a colon's width w between them:
// field k spans (f + w) k to (f + w) k + f, below the edge; separator k the gap after it.
void CBDAddrCtl::Layout() {
    const QRect client = contentsRect();
    const int colon = fontMetrics().horizontalAdvance(QLatin1Char(':'));
    const int edge = EdgeHeight();
    const int field = std::max(0, (client.width() - (kFieldCount - 1) * colon) / kFieldCount);
    const int height = client.height();
    for (int k = 0; k < kFieldCount; ++k) {
        const int left = client.left() + (field + colon) * k;
        m_fields[static_cast<std::size_t>(k)]->setGeometry(left, client.top() + edge, field, std::max(0, height - edge));
        if (k < kFieldCount - 1) m_separators[static_cast<std::size_t>(k)] = QRect(left + field, client.top(), colon, height);
    }
}

void CBDAddrCtl::UpdateColours() {
    const QColor background = Background();
    for (CBDAddrEdit* field : m_fields) {
        QPalette colours = field->palette();
        colours.setColor(QPalette::Base, background);
        colours.setColor(QPalette::Window, background);
        field->setPalette(colours);
    }
}

// The window colour while the address can be edited, the button face colour otherwise.
QColor CBDAddrCtl::Background() const {
    return palette().color(QPalette::Active, isEnabled() && !m_readOnly ? QPalette::Base : QPalette::Button);
}

int CBDAddrCtl::EdgeHeight() const { return style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this); }

CBDAddrEdit* CBDAddrCtl::Neighbour(const CBDAddrEdit* field, int step) const {
    const int id = field->Id() + step;
    return id >= 1 && id <= kFieldCount ? Field(id) : nullptr;
}

QWidget* CBDAddrCtl::NextTabStop(bool back) const {
    const QWidget* top = window();
    for (QWidget* candidate = back ? previousInFocusChain() : nextInFocusChain(); candidate && candidate != this;
         candidate = back ? candidate->previousInFocusChain() : candidate->nextInFocusChain()) {
        if (isAncestorOf(candidate) || candidate->window() != top) continue;
        if ((candidate->focusPolicy() & Qt::TabFocus) && candidate->isVisibleTo(top) && candidate->isEnabled()) {
            return candidate;
        }
    }
    return nullptr;
}

void CBDAddrCtl::FocusField(CBDAddrEdit* field) {
    field->setFocus(Qt::OtherFocusReason);
    field->selectAll();
}

void CBDAddrCtl::ShowError(const QString& text) {
    QMessageBox::warning(this, QStringLiteral("Error"), text);
}
