#include "widgets/InfoDlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "widgets/ControlId.h"
#include "widgets/DialogText.h"
#include "widgets/FontStatic.h"

// The area the message is painted into (edit 1044 of the system's dialog). It wraps the
// text and keeps the message's own line breaks. The system's area has a fixed size and
// cuts a long message at its bottom; ours grows with the message, so that the whole
// guidance can be read.
class CInfoDlg::MessageArea : public QWidget {
public:
    MessageArea(const CInfoDlg& owner, QWidget* parent) : QWidget(parent), m_owner(owner) {
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }

    int heightForWidth(int width) const override {
        const QRect bound = QFontMetrics(font()).boundingRect(
            QRect(0, 0, width, 100000), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, Text());
        return bound.height() + 4;
    }
    bool hasHeightForWidth() const override { return true; }
    QSize sizeHint() const override {
        const int width = QFontMetrics(font()).averageCharWidth() * 48;
        return {width, heightForWidth(width)};
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setPen(m_owner.TextColour());
        painter.drawText(rect(), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, Text());
    }

private:
    // Windows line breaks would draw as two breaks.
    QString Text() const { return QString(m_owner.Message()).replace(QStringLiteral("\r\n"), QStringLiteral("\n")); }

    const CInfoDlg& m_owner;
};

CInfoDlg::CInfoDlg(const QString& message, QWidget* parent, const QColor& textColour)
    : QDialog(parent), m_textColour(textColour), m_message(message) {
    setObjectName(QStringLiteral("CInfoDlg"));
    setWindowTitle(DlgText("User Guide Info"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

    auto* picture = new QLabel(this);
    picture->setPixmap(QPixmap(QStringLiteral(":/images/bitmap133.png")));
    m_heading = new CFontStatic(DlgText("User Guide Information"), this);
    SetControlId(m_heading, 1045);
    m_messageArea = new MessageArea(*this, this);
    SetControlId(m_messageArea, 1044);

    m_yes = new QPushButton(DlgText("Yes"), this);
    m_no = new QPushButton(DlgText("No"), this);
    m_ok = new QPushButton(DlgText("Ok"), this);
    SetControlId(m_yes, ResultYes);
    SetControlId(m_no, ResultNo);
    SetControlId(m_ok, ResultOk);
    for (QPushButton* button : {m_yes, m_no, m_ok}) button->setAutoDefault(false);
    connect(m_yes, &QPushButton::clicked, this, [this] { done(ResultYes); });
    connect(m_no, &QPushButton::clicked, this, [this] { done(ResultNo); });
    connect(m_ok, &QPushButton::clicked, this, [this] { done(ResultOk); });

    auto* top = new QHBoxLayout;
    top->addWidget(picture);
    top->addWidget(m_heading, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_yes);
    buttons->addWidget(m_no);
    buttons->addWidget(m_ok);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_messageArea, 1);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CInfoDlg::OnInitDialog() {
    const QPair<int, QPushButton*> bits[] = {{ButtonYes, m_yes}, {ButtonNo, m_no}, {ButtonOk, m_ok}};
    for (const auto& [bit, button] : bits) {
        const bool offered = (m_buttonMask & bit) != 0;
        button->setEnabled(offered);
        button->setVisible(offered);
    }
    // Enter answers only a notice; a question needs a deliberate Yes or No.
    if (m_buttonMask & ButtonOk) {
        m_ok->setDefault(true);
        m_ok->setFocus();
    }
}

int CInfoDlg::Run() {
    OnInitDialog();
    return exec();
}

void CInfoDlg::reject() { done(ResultCancel); }
