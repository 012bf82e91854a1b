#include "tests/gui/ControlPictures.h"

#include <QApplication>
#include <QDir>
#include <QGridLayout>
#include <QLabel>
#include <QWidget>

#include "controls/BDAddrCtl.h"

bool SaveControlPictures(const QString& folder) {
    static constexpr std::uint8_t kAddress[6] = {0x0A, 0x34, 0x56, 0x78, 0x9A, 0xBC};
    static constexpr int kWidths[] = {150, 300};
    QWidget host;
    auto* grid = new QGridLayout(&host);
    for (int column = 0; column < 2; ++column) {
        grid->addWidget(new QLabel(QStringLiteral("%1 px").arg(kWidths[column]), &host), 0, column + 1);
    }
    const char* const states[] = {"enabled", "disabled", "read-only"};
    for (int row = 0; row < 3; ++row) {
        grid->addWidget(new QLabel(QLatin1String(states[row]), &host), row + 1, 0);
        for (int column = 0; column < 2; ++column) {
            auto* control = new CBDAddrCtl(&host);
            control->setFixedWidth(kWidths[column]);
            control->SetAddress(kAddress);
            control->setEnabled(row != 1);
            control->SetReadOnly(row == 2);
            grid->addWidget(control, row + 1, column + 1, Qt::AlignLeft);
        }
    }
    host.show();
    // No field focused: each control as it looks among others.
    host.setFocusPolicy(Qt::StrongFocus);
    host.setFocus();
    QCoreApplication::processEvents();
    QDir().mkpath(folder);
    return host.grab().save(folder + QStringLiteral("/bdaddr.png"));
}
