// Saves a picture of every wizard page in English and in Chinese, so that the pages
// can be looked at: FOLDER/en/NN.png and FOLDER/zh/NN.png (FOLDER: the first argument),
// and pictures of the controls in FOLDER/controls.
#include <QApplication>
#include <QDir>
#include <QTimer>

#include "app/FdpEvent.h"
#include "app/FirmSheet.h"
#include "app/KelvaneDlg.h"
#include "app/WizardJob.h"
#include "pages/WizardPage.h"
#include "fdp/FdpTypes.h"
#include "resources/strings/StringTable.h"
#include "tests/gui/ControlPictures.h"
#include "tests/gui/GuiSupport.h"

namespace {

bool SavePages(const QString& folder, res::Language language) {
    res::SetLanguage(language);
    TheWizardJob() = WizardJob{};
    DialogWatcher watcher;
    ProgramFolder programFolder;
    auto opened = OpenMainWindow(programFolder, "kvnone");
    CKelvaneDlg& window = *opened;
    QDir().mkpath(folder);
    bool ok = true;
    for (int index = 0; index < PageCount; ++index) {
        window.Sheet()->SetActivePage(index);
        if (index == PageLinkIndex) {
            // As it looks once a target has answered.
            TheWizardJob().linkState = LinkListening;
            QCoreApplication::postEvent(window.PageAt(index), new CFdpEvent(fdp::WM_FDP_CONNECT, fdp::ConnectOk, 0));
        }
        QCoreApplication::processEvents();
        ok = window.grab().save(QStringLiteral("%1/%2.png").arg(folder).arg(index, 2, 10, QLatin1Char('0'))) && ok;
    }
    window.close();
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("pages");
    const bool ok = SavePages(folder + QStringLiteral("/en"), res::Language::English) &&
                    SavePages(folder + QStringLiteral("/zh"), res::Language::Chinese) &&
                    SaveControlPictures(folder + QStringLiteral("/controls"));
    return ok ? 0 : 1;
}
