#include "app/AboutDlg.h"

#include <QDir>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstring>

#include "widgets/ControlId.h"
#include "widgets/DialogText.h"
#include "widgets/FontStatic.h"

namespace {
int g_codeProgress = 0;
}

CAboutDlg::CAboutDlg(const QString& filesFolder, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CAboutDlg"));
    setWindowTitle(DlgText("About Kelvane"));

    auto* picture = new QLabel(this);
    picture->setPixmap(QPixmap(QStringLiteral(":/images/bitmap133.png")));
    m_title = new CFontStatic(DlgText("Firmware Manager"), this);
    SetControlId(m_title, 1046);
    auto* version = new QLabel(DlgText("Kelvane Version 2.8.3"), this);
    auto* files = new QLabel(DlgText("Folder: %1").arg(QDir::toNativeSeparators(filesFolder)), this);
    files->setObjectName(QStringLiteral("filesFolder"));
    files->setTextInteractionFlags(Qt::TextSelectableByMouse);
    files->setVisible(!filesFolder.isEmpty());
    auto* ok = new QPushButton(DlgText("OK"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    // Looks like a speck: read-only, masked, no caret, nothing to see.
    m_codeBox = new QLineEdit(this);
    SetControlId(m_codeBox, 1049);
    m_codeBox->setReadOnly(true);
    m_codeBox->setEchoMode(QLineEdit::Password);
    m_codeBox->setFixedSize(14, 18);
    m_codeBox->setCursor(Qt::ArrowCursor);
    m_codeBox->setStyleSheet(QStringLiteral("QLineEdit { color: transparent; }"));
    m_codeBox->installEventFilter(this);

    auto* text = new QVBoxLayout;
    text->addWidget(m_title);
    text->addWidget(version);
    text->addWidget(files);
    auto* top = new QHBoxLayout;
    top->addWidget(picture, 0, Qt::AlignTop);
    top->addLayout(text, 1);
    top->addWidget(ok, 0, Qt::AlignTop);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_codeBox, 0, Qt::AlignLeft);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

int CAboutDlg::CodeProgress() { return g_codeProgress; }
void CAboutDlg::ResetCodeProgress() { g_codeProgress = 0; }

bool CAboutDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_codeBox && event->type() == QEvent::KeyPress) {
        for (QChar character : static_cast<QKeyEvent*>(event)->text()) OnCodeCharacter(character);
    }
    return QDialog::eventFilter(watched, event);
}

// A wrong character starts the code again; it is not taken as a first character.
void CAboutDlg::OnCodeCharacter(QChar character) {
    const int length = static_cast<int>(std::strlen(kServiceCode));
    if (character == QLatin1Char(kServiceCode[g_codeProgress])) {
        ++g_codeProgress;
    } else {
        g_codeProgress = 0;
    }
    if (g_codeProgress == length) {
        g_codeProgress = 0;
        emit ServiceCodeTyped();
    }
}
