// Saves a picture of every wizard page in English and in Chinese, so that the pages
// can be looked at: FOLDER/en/NN.png and FOLDER/zh/NN.png (FOLDER: the first argument),
// the download page also during a program update (08-download.png) and after it
// (08-done.png), the About box (about.png), a message box with Qt's own buttons in the
// page's language (messagebox.png: the question when kelvane.ini cannot be written), and
// pictures of the controls in FOLDER/controls.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QDir>
#include <QMessageBox>
#include <QTimer>
#include <chrono>

#include "app/AboutDlg.h"
#include "app/KelvaneDlg.h"
#include "app/QtTranslation.h"
#include "fdp/FdpTypes.h"
#include "pages/FirmSheet.h"
#include "pages/PageBurn.h"
#include "pages/PageLink.h"
#include "pages/WizardJob.h"
#include "pages/WizardPage.h"
#include "resources/strings/StringIds.h"
#include "resources/strings/StringTable.h"
#include "tests/gui/ControlPictures.h"
#include "tests/gui/GuiSupport.h"
#include "widgets/ControlId.h"

namespace {

const char* const kSampleProgram = "/home/tech/firmware/nap-program-2.8.3.2.bin";

// The connection page while it listens: two targets answered in the first second and
// the user is to choose one (NN-several-targets.png); nothing heard for a while and only
// virtual adapters up, with the hint on naming one (NN-name-hint.png).
bool SaveConnectionPictures(CKelvaneDlg& window, const QString& folder) {
    auto* page = qobject_cast<CPageLink*>(window.PageAt(PageLinkIndex));
    if (!page) return false;
    const QString prefix = QStringLiteral("%1/%2").arg(folder).arg(PageLinkIndex, 2, 10, QLatin1Char('0'));
    const auto before = TheWizardJob().linkState;
    window.Sheet()->SetActivePage(PageLinkIndex);
    TheWizardJob().linkState = LinkListening;
    // The hint's label as the page fills it when the wait is over (the machine drawing
    // the pictures may have no virtual adapter up).
    page->NameHintText()->setText(
        QString::fromStdString(res::FormatString(res::IDS_NAME_VIRTUAL_ADAPTER, {"veth0, tap0", "veth0"})));
    page->NameHintText()->setVisible(true);
    QCoreApplication::processEvents();
    bool ok = window.grab().save(prefix + QStringLiteral("-name-hint.png"));
    // Two targets heard in the first second, told as the link tells them.
    const auto now = std::chrono::steady_clock::now();
    window.FrontEnd().Publish(fdp::SeveralTargetsHeard{
        {{{0x00, 0x1b, 0xdc, 0x40, 0x12, 0x7e}, "enx00e04c680001", 0, 2, now - std::chrono::milliseconds(300)},
         {{0x00, 0x1b, 0xdc, 0x40, 0x31, 0x05}, "enp3s0", 1, 1, now - std::chrono::milliseconds(800)}}});
    QCoreApplication::processEvents();
    ok = window.grab().save(prefix + QStringLiteral("-several-targets.png")) && ok;
    TheWizardJob().linkState = before;
    return ok;
}

// The download page as a program update runs, from the link's stage reports (the
// picture program has no target, so Next's request is refused and the reports are
// played to the page).
bool SaveDownloadPictures(CKelvaneDlg& window, const QString& folder) {
    auto* page = static_cast<CPageBurn*>(window.PageAt(PageBurnIndex));
    const auto report = [&window, page](unsigned stage, quint32 value) {
        page->OnStageReport(LinkStageReport(window, stage, value));
    };
    // The connection pictures were drawn last: the download starts from its own page.
    window.Sheet()->SetActivePage(PageBurnIndex);
    window.Sheet()->PressNext();
    report(62, 0);
    report(62, 640);
    QCoreApplication::processEvents();
    bool ok = window.grab().save(folder + QStringLiteral("/08-download.png"));
    for (const unsigned stage : {62u, 63u, 21u, 22u, 23u, 31u, 32u, 33u}) report(stage, stage == 62 ? 1000 : 0);
    QCoreApplication::processEvents();
    ok = window.grab().save(folder + QStringLiteral("/08-done.png")) && ok;
    // Another run whose USB adapter is pulled out while the target erases: the longest
    // report line, with Back and Finish.
    window.FrontEnd().Publish(fdp::AdapterLost{"enx00e04c680001"});
    window.Sheet()->SetActivePage(PageBurnIndex);
    window.Sheet()->PressNext();
    for (const unsigned stage : {62u, 63u, 21u, 22u}) report(stage, stage == 62 ? 1000 : 0);
    report(23, fdp::FdpNotOpened);
    QCoreApplication::processEvents();
    ok = window.grab().save(folder + QStringLiteral("/08-adapter-lost.png")) && ok;
    return ok;
}

bool SavePages(const QString& folder, res::Language language) {
    res::SetLanguage(language);
    InstallQtTranslation(res::CurrentCatalogue());
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
            window.FrontEnd().Publish(fdp::JobEnded{fdp::JobListen, fdp::ConnectOk, 0});
        }
        if (index == PageFirmFileIndex) {
            // A program update chosen, its file typed in.
            qobject_cast<QCheckBox*>(FindControl(window.PageAt(index), 1012))->click();
            qobject_cast<QLineEdit*>(FindControl(window.PageAt(index), 1019))->setText(QString::fromLatin1(kSampleProgram));
            WizardJob& job = TheWizardJob();
            job.task = TaskFirmware;
            job.updateProgram = 1;
            job.programFile = kSampleProgram;
        }
        QCoreApplication::processEvents();
        ok = window.grab().save(QStringLiteral("%1/%2.png").arg(folder).arg(index, 2, 10, QLatin1Char('0'))) && ok;
    }
    ok = SaveConnectionPictures(window, folder) && ok;
    ok = SaveDownloadPictures(window, folder) && ok;
    // The About box, naming the folder of the working files.
    CAboutDlg about(window.ProgramDirectory(), &window);
    about.show();
    QCoreApplication::processEvents();
    ok = about.grab().save(folder + QStringLiteral("/about.png")) && ok;
    about.close();
    // A message box, its buttons worded by Qt's translation: grabbed, then cancelled.
    watcher.paused = true;
    bool boxSaved = false;
    QTimer::singleShot(0, &window, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxSaved = box->grab().save(folder + QStringLiteral("/messagebox.png"));
            box->done(QMessageBox::Cancel);
        }
    });
    window.SettingsQuestions().askRetry();
    watcher.paused = false;
    ok = boxSaved && ok;
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
