// The firmware task through the real main window: the firmware file page's checks and
// version questions, the download page's summary, report and progress, and on the
// network bench whole updates against the simulated target.
#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <sys/stat.h>

#include "app/KelvaneDlg.h"
#include "fdp/FirmwareFile.h"
#include "fdp/Sha256.h"
#include "fdp/param/ParamStore.h"
#include "pages/FirmSheet.h"
#include "pages/LoopTestChoice.h"
#include "pages/PageBurn.h"
#include "pages/PageFirmFile.h"
#include "pages/PageLink.h"
#include "pages/PagePasswd.h"
#include "pages/WizardJob.h"
#include "resources/strings/StringTable.h"
#include "tests/gui/GuiSupport.h"
#include "widgets/ControlId.h"
#include "widgets/InfoDlg.h"

namespace {

constexpr int kConnectWaitMs = 20000;
constexpr int kDownloadWaitMs = 60000;
const char* const kNoInterface = "kvnone";
const fdp::FirmwareVersion kNewVersion{9, 0, 0, 1};

QString Res(unsigned id) { return QString::fromStdString(res::LoadString(id)); }
std::string S(unsigned id) { return res::LoadString(id); }

QString WriteImage(const QTemporaryDir& dir, const QString& name, std::size_t size,
                   const fdp::FirmwareVersion& version = kNewVersion) {
    const QString path = dir.filePath(name);
    const auto image = fdp::MakeSampleFirmware(size, version);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(reinterpret_cast<const char*>(image.data()), static_cast<qint64>(image.size()));
    return path;
}

// The downgrade question (104 program, 105 boot) when the target did not give its
// version: asked as for an equal one, saying so.
QString UnreadQuestion(unsigned id) {
    return Res(id) + (res::CurrentLanguage() == res::Language::Chinese
                          ? QStringLiteral("\r\n\r\n注意：无法读取设备中的版本。")
                          : QStringLiteral("\r\n\r\nNote: the target's version could not be read."));
}

template <typename T>
T* Control(QWidget* page, int id) {
    return qobject_cast<T*>(FindControl(page, id));
}

// A watcher's answers: Yes or No to questions whose text starts with the given text,
// Ok to everything else.
std::function<int(const QString&)> Answer(const QString& question, int result) {
    return [question, result](const QString& message) {
        return message.startsWith(question) ? result : int{CInfoDlg::ResultOk};
    };
}

}  // namespace

class FirmwareTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_files;

    // A wizard connected with the simulator (started with the extra options and a state
    // folder of its own) and standing on the firmware file page.
    struct Session {
        QTemporaryDir state;
        SimulatedTarget sim;
        DialogWatcher watcher;
        ProgramFolder folder;
        std::unique_ptr<CKelvaneDlg> window;
    };
    void StartSession(Session& session, const QStringList& simOptions) {
        QVERIFY(session.sim.Start(SimOptions(session.state.path(), simOptions)));
        session.window = OpenMainWindow(session.folder, bench::kPcInterface);
        ConnectAndChooseFirmware(*session.window);
    }
    static void Next(CKelvaneDlg& window) { window.Sheet()->PressNext(); }
    static CPageFirmFile* FirmFile(CKelvaneDlg& window) {
        return static_cast<CPageFirmFile*>(window.PageAt(PageFirmFileIndex));
    }
    static CPageBurn* Burn(CKelvaneDlg& window) { return static_cast<CPageBurn*>(window.PageAt(PageBurnIndex)); }
    // Back, Next, Finish as enabled and shown now; "f" for a shown but disabled Finish.
    static QString Buttons(CKelvaneDlg& window) {
        CFirmSheet* sheet = window.Sheet();
        QString shown;
        if (sheet->BackButton()->isEnabled()) shown += QStringLiteral("B");
        if (!sheet->NextButton()->isHidden() && sheet->NextButton()->isEnabled()) shown += QStringLiteral("N");
        if (!sheet->FinishButton()->isHidden())
            shown += sheet->FinishButton()->isEnabled() ? QStringLiteral("F") : QStringLiteral("f");
        return shown;
    }
    // Ticks one kind's box and types its path on page 5.
    static void ChooseFile(CKelvaneDlg& window, fdp::FirmwareKind kind, const QString& path) {
        CPageFirmFile* page = FirmFile(window);
        auto* check = Control<QCheckBox>(page, kind == fdp::FirmwareBoot ? 1013 : 1012);
        auto* other = Control<QCheckBox>(page, kind == fdp::FirmwareBoot ? 1012 : 1013);
        if (!check->isChecked()) check->click();
        if (other->isChecked()) other->click();
        Control<QLineEdit>(page, kind == fdp::FirmwareBoot ? 1018 : 1019)->setText(path);
    }
    // Welcome, password, connection page; then the firmware task's page.
    void ConnectAndChooseFirmware(CKelvaneDlg& window) {
        Next(window);
        static_cast<CPagePasswd*>(window.PageAt(PagePasswdIndex))->PasswordEdit()->setText(QStringLiteral("kiwi"));
        Next(window);
        QTRY_COMPARE_WITH_TIMEOUT(TheWizardJob().linkState, int(LinkConnected), kConnectWaitMs);
        static_cast<CPageLink*>(window.PageAt(PageLinkIndex))->Radio(1003)->click();
        Next(window);
        QCOMPARE(window.Sheet()->ActiveIndex(), int(PageFirmFileIndex));
    }
    // A program update of this file from page 5 on, until the page shows the erase.
    static void DownloadUntilErasing(CKelvaneDlg& window, const QString& path) {
        ChooseFile(window, fdp::FirmwareProgram, path);
        Next(window);
        Next(window);
        QTRY_COMPARE_WITH_TIMEOUT(int(Burn(window)->downloadState()), int(CPageBurn::DownloadState::Erasing),
                                  kDownloadWaitMs);
    }
    // Clicks a Select button and reads where the file dialog starts; then chooses the
    // file, or cancels when none is given.
    QString SelectStartsIn(CKelvaneDlg& window, int selectId, const QString& choose = {}) {
        QString directory;
        QTimer::singleShot(0, this, [&] {
            QTRY_VERIFY(qobject_cast<QFileDialog*>(QApplication::activeModalWidget()));
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            directory = dialog->directory().absolutePath();
            if (choose.isEmpty()) {
                dialog->reject();
                return;
            }
            dialog->selectFile(choose);
            static_cast<QDialog*>(dialog)->accept();
        });
        Control<QPushButton>(FirmFile(window), selectId)->click();
        return directory;
    }
    // The connection page as the link leaves it after a login, without a target.
    static void FakeConnected(CKelvaneDlg& window) {
        TheWizardJob().linkState = LinkListening;
        window.Sheet()->SetActivePage(PageLinkIndex);
        window.FrontEnd().Publish(fdp::JobEnded{fdp::JobListen, 0, 0});
        QTRY_COMPARE(TheWizardJob().linkState, int(LinkConnected));
    }
    static QStringList SimOptions(const QString& stateDir, QStringList extra = {}) {
        extra << QStringLiteral("--announce-ms") << QStringLiteral("100") << QStringLiteral("--state") << stateDir;
        return extra;
    }

private slots:
    void init() {
        TheWizardJob() = WizardJob{};
        TheLoopTestChoice() = LoopTestChoice{};
    }

    // The size windows and the signature, as Next on page 5 asks about them. Without
    // an adapter nothing more happens after the checks, so only the questions show.
    void fileChecks_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("corrupt");   // a byte of the vector table changed at this offset; -1 none
        QTest::addColumn<int>("message");   // 0: the file passes
        QTest::newRow("boot 1023") << 0 << 1023 << -1 << 3001;
        QTest::newRow("boot 1024") << 0 << 1024 << -1 << 0;
        QTest::newRow("boot 65536") << 0 << 65536 << -1 << 0;
        QTest::newRow("boot 65537") << 0 << 65537 << -1 << 3001;
        QTest::newRow("program 65535") << 1 << 65535 << -1 << 3002;
        QTest::newRow("program 65536") << 1 << 65536 << -1 << 0;
        QTest::newRow("program 2023424") << 1 << 2023424 << -1 << 0;
        QTest::newRow("program 2023425") << 1 << 2023425 << -1 << 3002;
        QTest::newRow("signature mixed from A and B") << 0 << 4096 << 0 << 0;
        QTest::newRow("signature broken") << 1 << 70000 << 5 << 3003;
    }
    void fileChecks() {
        QFETCH(int, kind);
        QFETCH(int, size);
        QFETCH(int, corrupt);
        QFETCH(int, message);
        DialogWatcher watcher;
        ProgramFolder folder;
        auto window = OpenMainWindow(folder, kNoInterface);
        watcher.messages.clear();   // the missing adapter
        QString path = WriteImage(m_files, QStringLiteral("check.bin"), static_cast<std::size_t>(size));
        if (corrupt >= 0) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            file.seek(corrupt);
            // Offset 0 takes table B's branch byte (a mix), any other a byte of neither table.
            file.write(QByteArray(1, corrupt == 0 ? '\x18' : '\x77'));
        }
        window->Sheet()->SetActivePage(PageFirmFileIndex);
        ChooseFile(*window, static_cast<fdp::FirmwareKind>(kind), path);
        QCOMPARE(Buttons(*window), QStringLiteral("BN"));
        watcher.answer = Answer(QString(), CInfoDlg::ResultNo);
        Next(*window);
        // A file that passes meets the version question: without a target its version
        // cannot be read.
        QCOMPARE(watcher.messages, QStringList{message ? Res(static_cast<unsigned>(message))
                                                       : UnreadQuestion(kind == 0 ? 105 : 104)});
        QCOMPARE(window->Sheet()->ActiveIndex(), int(PageFirmFileIndex));
        window->close();
    }

    // Yes switches a check off for the following Next; leaving the page and coming back
    // switches it on again. A 31-byte file fails the size first, then the signature.
    void yesSkipsACheckUntilThePageIsShownAgain() {
        DialogWatcher watcher;
        ProgramFolder folder;
        auto window = OpenMainWindow(folder, kNoInterface);
        watcher.messages.clear();
        const QString path = WriteImage(m_files, QStringLiteral("short.bin"), 31);
        window->Sheet()->SetActivePage(PageFirmFileIndex);
        ChooseFile(*window, fdp::FirmwareBoot, path);
        const auto nextAsks = [&](const QStringList& expected) {
            watcher.messages.clear();
            Next(*window);
            QCOMPARE(watcher.messages, expected);
        };
        watcher.answer = Answer(QString(), CInfoDlg::ResultNo);
        nextAsks({Res(3001)});
        nextAsks({Res(3001)});   // No leaves the check on
        watcher.answer = Answer(QString(), CInfoDlg::ResultYes);
        nextAsks({Res(3001)});
        nextAsks({Res(3003)});   // missing bytes read as zero
        // Both checks off: the file passes; the target's version cannot be read without
        // a target, so the downgrade question, saying so.
        nextAsks({UnreadQuestion(105)});
        QCOMPARE(FirmFile(*window)->CheckMask() & fdp::CheckAll, fdp::CheckAll & ~(fdp::CheckBootSize | fdp::CheckSignature));
        window->Sheet()->PressBack();
        QCOMPARE(window->Sheet()->ActiveIndex(), int(PageLinkIndex));
        window->Sheet()->SetActivePage(PageFirmFileIndex);
        nextAsks({Res(3001)});

        // Both boxes or none: Back alone.
        auto* program = Control<QCheckBox>(FirmFile(*window), 1012);
        program->click();
        QCOMPARE(Buttons(*window), QStringLiteral("B"));
        Control<QCheckBox>(FirmFile(*window), 1013)->click();
        program->click();
        QCOMPARE(Buttons(*window), QStringLiteral("B"));
        // An empty path is named.
        ChooseFile(*window, fdp::FirmwareProgram, QString());
        nextAsks({Res(3005)});
        ChooseFile(*window, fdp::FirmwareProgram, m_files.filePath(QStringLiteral("missing.bin")));
        nextAsks({Res(3004)});
        window->close();
    }

    // The summary of each task, and how the page follows stage reports that need no
    // target: transfer lines, stages that change nothing, a failure.
    void summaryByTask_data() {
        QTest::addColumn<int>("task");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QString>("work");
        const QString header = QString::fromStdString(S(57772)) + QStringLiteral("00:11:22:33:44:55\r\n\r\n");
        const QString todo = QString::fromStdString(S(57775));
        QTest::newRow("not connected") << 0 << false << QString::fromStdString(S(57783));
        QTest::newRow("boot firmware") << 0 << true
                                       << header + todo + QString::fromStdString(S(57776)) + QStringLiteral("   /b.bin\r\n");
        QTest::newRow("name and password") << 1 << true << header + todo + QString::fromStdString(S(57778));
        QTest::newRow("dhcp and nat") << 2 << true << header + todo + QString::fromStdString(S(57779));
        QTest::newRow("loop test, every choice")
            << 3 << true
            << header + QString::fromStdString(S(57773)) + QStringLiteral("00:11:22:33:44:55\r\n") +
                   QString::fromStdString(S(57774)) + QStringLiteral("\r\n\r\n") + todo +
                   QString::fromStdString(S(57780) + S(57781) + S(57784) + S(57785));
        QTest::newRow("register") << 4 << true << header + todo + QString::fromStdString(S(57787));
        QTest::newRow("unknown task") << 7 << true << header + todo + QString::fromStdString(S(57782));
    }
    void summaryByTask() {
        QFETCH(int, task);
        QFETCH(bool, connected);
        QFETCH(QString, work);
        DialogWatcher watcher;
        ProgramFolder folder;
        auto window = OpenMainWindow(folder, kNoInterface);
        WizardJob& job = TheWizardJob();
        job.task = task;
        job.linkState = connected ? LinkConnected : LinkNotConnected;
        job.connectedWith = "00:11:22:33:44:55";
        job.updateBoot = job.updateProgram = 1;   // both: the boot file is named
        job.bootFile = "/b.bin";
        job.programFile = "/p.bin";
        TheLoopTestChoice().testTarget = TheLoopTestChoice().testDongle = 1;
        TheLoopTestChoice().targetTestMode = TheLoopTestChoice().dongleTestMode = 1;
        window->Sheet()->SetActivePage(PageBurnIndex);
        QCOMPARE(QString::fromStdString(Burn(*window)->SummaryText()), QString::fromStdString(S(57771)) + work);
        if (!connected) {
            Burn(*window)->ProgressBar()->setValue(700);
            Next(*window);
            QCOMPARE(Burn(*window)->ProgressBar()->value(), 0);
            QVERIFY(Burn(*window)->ReportText().empty());
            QCOMPARE(Buttons(*window), QStringLiteral("BN"));
        }
        window->close();
    }

    void stageReportsMoveStateBarAndReport() {
        DialogWatcher watcher;
        ProgramFolder folder;
        auto window = OpenMainWindow(folder, kNoInterface);
        window->Sheet()->SetActivePage(PageBurnIndex);
        CPageBurn* page = Burn(*window);
        const auto post = [&](unsigned stage, quint32 value) { page->OnStageReport(LinkStageReport(*window, stage, value)); };
        using State = CPageBurn::DownloadState;
        post(62, 10);
        post(62, 400);
        QCOMPARE(page->ReportText(), S(57715) + "\r\n");   // one line for the whole transfer
        QCOMPARE(page->ProgressBar()->value(), 400);
        QCOMPARE(page->downloadState(), State::Transferring);
        QCOMPARE(Buttons(*window), QStringLiteral("f"));
        for (unsigned stage : {2u, 3u, 12u, 22u, 42u, 61u, 63u}) {
            post(stage, 0);
            QCOMPARE(page->ReportText(), S(57715) + "\r\n");
            QCOMPARE(page->ProgressBar()->value(), 400);
            QCOMPARE(page->downloadState(), State::Transferring);
        }
        post(63, fdp::FdpTimeout);
        QCOMPARE(page->ReportText(), S(57715) + "\r\n" + S(57730) + "\r\n");
        QCOMPARE(page->downloadState(), State::Idle);
        QCOMPARE(Buttons(*window), QStringLiteral("BN"));
        post(62, 5000);   // a new transfer opens with its line again; the bar stops at 1000
        QCOMPARE(page->ProgressBar()->value(), 1000);
        QVERIFY(QString::fromStdString(page->ReportText()).endsWith(QString::fromStdString(S(57715) + "\r\n")));
        window->close();
    }

    // The start of erasing, the start of burning and the end of burning of each area
    // (boot, program, parameters): the line, the bar, the state and the buttons.
    void eraseAndBurnStagesOfEachArea_data() {
        QTest::addColumn<int>("stage");
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("bar");
        QTest::addColumn<int>("state");   // 1 Erasing, 3 Burning, 4 Done
        QTest::addColumn<QString>("buttons");
        QTest::newRow("1") << 1 << "Start to erase boot area!" << 1000 << 1 << "f";
        QTest::newRow("21") << 21 << "Start to erase program area!" << 1000 << 1 << "f";
        QTest::newRow("41") << 41 << "Start to erase parameter area!" << 1000 << 1 << "f";
        QTest::newRow("11") << 11 << "Start to burn boot area!" << 1200 << 3 << "f";
        QTest::newRow("31") << 31 << "Start to burn program area!" << 1200 << 3 << "f";
        QTest::newRow("51") << 51 << "Start to burn parameter area!" << 1200 << 3 << "f";
        QTest::newRow("13") << 13 << "Burn boot area successfully!" << 1250 << 4 << "BF";
        QTest::newRow("33") << 33 << "Burn program area successfully!" << 1250 << 4 << "BF";
        QTest::newRow("53") << 53 << "Burn parameter area successfully!" << 1250 << 4 << "BF";
    }
    void eraseAndBurnStagesOfEachArea() {
        QFETCH(int, stage);
        QFETCH(QString, line);
        DialogWatcher watcher;
        ProgramFolder folder;
        auto window = OpenMainWindow(folder, kNoInterface);
        window->Sheet()->SetActivePage(PageBurnIndex);
        CPageBurn* page = Burn(*window);
        const auto post = [&](unsigned s, quint32 value) { page->OnStageReport(LinkStageReport(*window, s, value)); };
        post(62, 500);
        post(static_cast<unsigned>(stage), 0);
        QCOMPARE(QString::fromStdString(page->ReportText()),
                 QStringLiteral("In transferring data...\r\n") + line + QStringLiteral("\r\n"));
        QTEST(page->ProgressBar()->value(), "bar");
        QTEST(int(page->downloadState()), "state");
        QTEST(Buttons(*window), "buttons");
        window->close();
    }

    // Select opens the file dialog as the page describes it; the chosen file is checked
    // at once. The Version buttons show the file's version, or the check's message.
    void selectAndVersionButtons() {
        DialogWatcher watcher;
        ProgramFolder folder;
        auto window = OpenMainWindow(folder, kNoInterface);
        watcher.messages.clear();
        window->Sheet()->SetActivePage(PageFirmFileIndex);
        CPageFirmFile* page = FirmFile(*window);
        Control<QCheckBox>(page, 1012)->click();
        const QString chosen = WriteImage(m_files, QStringLiteral("chosen.bin"), 4096);   // boot-sized
        QString title, filter, directory;
        QStringList filters;
        QTimer::singleShot(0, this, [&] {
            QTRY_VERIFY(qobject_cast<QFileDialog*>(QApplication::activeModalWidget()));
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            title = dialog->windowTitle();
            filters = dialog->nameFilters();
            filter = dialog->selectedNameFilter();
            directory = dialog->directory().absolutePath();
            dialog->selectFile(chosen);
            static_cast<QDialog*>(dialog)->accept();
        });
        watcher.answer = Answer(QString(), CInfoDlg::ResultNo);
        Control<QPushButton>(page, 1016)->click();
        QCOMPARE(title, QStringLiteral("Select program firmware"));
        QCOMPARE(filters, (QStringList{QStringLiteral("All (*)"), QStringLiteral("Firmware (*.bin)")}));
        QCOMPARE(filter, QStringLiteral("Firmware (*.bin)"));
        // Nothing chosen before: the user's home, not the program's (hidden) folder.
        QCOMPARE(directory, QDir::home().absolutePath());
        QCOMPARE(Control<QLineEdit>(page, 1019)->text(), chosen);
        QCOMPARE(watcher.messages, QStringList{Res(3002)});   // checked at once: too small for a program

        watcher.messages.clear();
        Control<QPushButton>(page, 1098)->click();   // the size check is still on
        QCOMPARE(watcher.messages, QStringList{Res(3002)});
        ChooseFile(*window, fdp::FirmwareBoot, chosen);
        watcher.messages.clear();
        Control<QPushButton>(page, 1021)->click();
        Control<QPushButton>(page, 1022)->click();   // no target: no version in the answer
        QCOMPARE(watcher.messages, (QStringList{Res(106) + QStringLiteral("9.0.0.1"), Res(110)}));
        QCOMPARE(QString::fromStdString(page->FileVersion(fdp::FirmwareBoot).Text()), QStringLiteral("9.0.0.1"));
        window->close();
    }

    // kelvane.ini keeps the program box and both paths; the boot box is not kept.
    void settingsKeepTheProgramChoiceAndBothPaths() {
        DialogWatcher watcher;
        ProgramFolder folder;
        {
            auto window = OpenMainWindow(folder, kNoInterface);
            window->Sheet()->SetActivePage(PageFirmFileIndex);
            ChooseFile(*window, fdp::FirmwareBoot, QStringLiteral("/fw/boot.bin"));
            ChooseFile(*window, fdp::FirmwareProgram, QStringLiteral("/fw/program.bin"));
            Control<QCheckBox>(FirmFile(*window), 1013)->click();   // both ticked
            window->Sheet()->PressBack();                           // leaving the page takes the controls
            window->close();
        }
        TheWizardJob() = WizardJob{};
        auto window = OpenMainWindow(folder, kNoInterface);
        QCOMPARE(TheWizardJob().updateProgram, 1);
        QCOMPARE(TheWizardJob().updateBoot, 0);
        QCOMPARE(TheWizardJob().bootFile, std::string("/fw/boot.bin"));
        QCOMPARE(TheWizardJob().programFile, std::string("/fw/program.bin"));
        window->Sheet()->SetActivePage(PageFirmFileIndex);
        CPageFirmFile* page = FirmFile(*window);
        QVERIFY(Control<QCheckBox>(page, 1012)->isChecked());
        QVERIFY(!Control<QCheckBox>(page, 1013)->isChecked());
        QCOMPARE(Control<QLineEdit>(page, 1018)->text(), QStringLiteral("/fw/boot.bin"));
        QCOMPARE(Control<QLineEdit>(page, 1019)->text(), QStringLiteral("/fw/program.bin"));
        QVERIFY(!Control<QPushButton>(page, 1017)->isEnabled());   // the boot controls follow the box
        QCOMPARE(Buttons(*window), QStringLiteral("BN"));
        window->close();
    }

    // The file dialog starts in the folder of the file last chosen, of either kind; in a
    // new run in the folder of the kind's path kept in kelvane.ini; else in the home.
    void fileDialogStartsWhereTheLastFileWasChosen() {
        DialogWatcher watcher;
        watcher.answer = Answer(QString(), CInfoDlg::ResultNo);
        ProgramFolder folder;
        QTemporaryDir release;
        QVERIFY(QDir(release.path()).mkpath(QStringLiteral("a")) && QDir(release.path()).mkpath(QStringLiteral("b")));
        const QString dirA = release.filePath(QStringLiteral("a"));
        const QString dirB = release.filePath(QStringLiteral("b"));
        const QString program = WriteImage(release, QStringLiteral("a/program.bin"), 100000);
        const QString boot = WriteImage(release, QStringLiteral("b/boot.bin"), 20000);
        {
            auto window = OpenMainWindow(folder, kNoInterface);
            window->Sheet()->SetActivePage(PageFirmFileIndex);
            Control<QCheckBox>(FirmFile(*window), 1012)->click();
            Control<QCheckBox>(FirmFile(*window), 1013)->click();
            QCOMPARE(SelectStartsIn(*window, 1016, program), QDir::home().absolutePath());
            QCOMPARE(SelectStartsIn(*window, 1017, boot), dirA);   // the boot's own path is empty
            QCOMPARE(SelectStartsIn(*window, 1016), dirB);         // the boot file came last
            QCOMPARE(Control<QLineEdit>(FirmFile(*window), 1019)->text(), program);   // cancelled: kept
            window->Sheet()->PressBack();
            window->close();
        }
        {
            auto window = OpenMainWindow(folder, kNoInterface);
            window->Sheet()->SetActivePage(PageFirmFileIndex);
            Control<QCheckBox>(FirmFile(*window), 1013)->click();
            QCOMPARE(SelectStartsIn(*window, 1016), dirA);
            QCOMPARE(SelectStartsIn(*window, 1017), dirB);
            window->Sheet()->PressBack();
            window->close();
        }
        // Kept paths whose folders are gone: the home again.
        QVERIFY(QDir(dirA).removeRecursively() && QDir(dirB).removeRecursively());
        auto window = OpenMainWindow(folder, kNoInterface);
        window->Sheet()->SetActivePage(PageFirmFileIndex);
        QCOMPARE(SelectStartsIn(*window, 1016), QDir::home().absolutePath());
        window->close();
    }

    // A working folder others may write to is refused: only firmware and the loop test
    // remain on the connection page, the others need param.jdp and say so; the firmware
    // page goes on to the download page though it cannot record the version.
    void withoutAFolderFirmwareAndTheLoopTestRemain() {
        DialogWatcher watcher;
        ProgramFolder folder;
        QCOMPARE(::chmod(QFile::encodeName(folder.Path()).constData(), 0777), 0);
        auto window = OpenMainWindow(folder, kNoInterface, true);
        QCOMPARE(watcher.messages.value(0),
                 QStringLiteral("Other users may write to the folder ") + folder.Path() +
                     QStringLiteral(", so Kelvane keeps none of its files there. Without them Kelvane can update "
                                    "firmware, but does not record its version in param.jdp, and run the loop "
                                    "test; setting the name and password, DHCP and NAT and the register "
                                    "configuration need param.jdp and cannot be done, and nothing is saved. Make "
                                    "the folder writable by you alone (chmod go-w)."));
        FakeConnected(*window);
        auto* page = static_cast<CPageLink*>(window->PageAt(PageLinkIndex));
        const struct { int id; bool enabled; } radios[] = {
            {1003, true}, {1001, true}, {1004, false}, {1005, false}, {1095, false}};
        for (const auto& radio : radios) QCOMPARE(page->Radio(radio.id)->isEnabled(), radio.enabled);
        auto* line = page->findChild<QLabel*>(QStringLiteral("paramTasksOff"));
        QVERIFY(line && line->isVisible());
        QCOMPARE(line->text(), QStringLiteral("Set name/password, Config DHCP and NAT and Register Config keep "
                                              "their values in param.jdp: without a folder for Kelvane's files "
                                              "they cannot be done."));

        page->Radio(1003)->click();
        Next(*window);
        QCOMPARE(window->Sheet()->ActiveIndex(), int(PageFirmFileIndex));
        ChooseFile(*window, fdp::FirmwareProgram, WriteImage(m_files, QStringLiteral("nofolder.bin"), 100000));
        watcher.answer = Answer(UnreadQuestion(104), CInfoDlg::ResultYes);
        Next(*window);
        QCOMPARE(window->Sheet()->ActiveIndex(), int(PageBurnIndex));
        window->close();
        QVERIFY(!QFile::exists(folder.File(QStringLiteral("kelvane.ini"))));
    }

    // Diagnose without an answer: the block's 0xFF stays, though its low six bits are set.
    void diagnoseWithoutAnswerSaysDisconnected() {
        DialogWatcher watcher;
        ProgramFolder folder;
        auto window = OpenMainWindow(folder, kNoInterface);
        window->Sheet()->SetActivePage(PageBurnIndex);
        window->RevealServiceButtons();
        Burn(*window)->DiagnoseButton()->click();
        QCOMPARE(Burn(*window)->ReportText(), S(57746) + S(57747));
        QCOMPARE(Buttons(*window), QStringLiteral("BF"));
        window->close();
    }

    // On the bench: the version questions with the target's answers.
    void versionQuestions_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("question");   // 0: none, the wizard goes on
        QTest::newRow("program newer") << 1 << "1.2.3.4" << "1.2.3.5" << 0;
        QTest::newRow("program equal") << 1 << "1.2.3.4" << "1.2.3.4" << 104;
        QTest::newRow("program lower") << 1 << "1.2.3.4" << "1.2.3.3" << 104;
        QTest::newRow("1.10.0.0 equals 2.0.0.0") << 1 << "1.10.0.0" << "2.0.0.0" << 104;
        QTest::newRow("no program in target") << 1 << "255.255.255.255" << "0.0.0.1" << 0;
        QTest::newRow("no program, file 0.0.0.0") << 1 << "255.255.255.255" << "0.0.0.0" << 104;
        QTest::newRow("boot FF FF FF FF") << 0 << "255.255.255.255" << "9.9.9.9" << 105;
        QTest::newRow("boot newer") << 0 << "1.0.0.4" << "1.0.0.5" << 0;
    }
    void versionQuestions() {
        QFETCH(int, kind);
        QFETCH(QString, target);
        QFETCH(QString, file);
        QFETCH(int, question);
        KELVANE_REQUIRE_BENCH();
        Session session;
        StartSession(session, {kind == 0 ? QStringLiteral("--boot-version") : QStringLiteral("--program-version"), target});
        if (QTest::currentTestFailed()) return;
        auto& [state, sim, watcher, folder, window] = session;
        const QByteArray before = folder.Read(QStringLiteral("param.jdp"));
        const QStringList parts = file.split(QLatin1Char('.'));
        const fdp::FirmwareVersion version{static_cast<std::uint8_t>(parts[0].toInt()),
                                           static_cast<std::uint8_t>(parts[1].toInt()),
                                           static_cast<std::uint8_t>(parts[2].toInt()),
                                           static_cast<std::uint8_t>(parts[3].toInt())};
        const auto fileKind = static_cast<fdp::FirmwareKind>(kind);
        const QString path = WriteImage(m_files, QStringLiteral("v.bin"), kind == 0 ? 4096 : 70000, version);
        ChooseFile(*window, fileKind, path);
        watcher.messages.clear();
        // Bits an earlier task left (name and password): the firmware task starts its
        // masks again, or they would go out in parameter 12 of this download.
        TheWizardJob().modifiedMask = 0x30000000;
        TheWizardJob().registerMask = 0x1F;
        // No first: the wizard stays and param.jdp is untouched.
        watcher.answer = Answer(QString(), CInfoDlg::ResultNo);
        Next(*window);
        if (question) {
            QCOMPARE(watcher.messages, QStringList{Res(static_cast<unsigned>(question))});
            QCOMPARE(window->Sheet()->ActiveIndex(), int(PageFirmFileIndex));
            QCOMPARE(folder.Read(QStringLiteral("param.jdp")), before);
            watcher.answer = Answer(QString(), CInfoDlg::ResultYes);
            Next(*window);
        }
        QCOMPARE(window->Sheet()->ActiveIndex(), int(PageBurnIndex));
        QCOMPARE(QString::fromStdString(FirmFile(*window)->TargetVersion(fileKind).Text()),
                 target == QLatin1String("255.255.255.255") ? QStringLiteral("15.15.15.15") : target);

        // The file's version in parameter 13 or 14, the masks in 58 and 12; nothing else.
        const QByteArray after = folder.Read(QStringLiteral("param.jdp"));
        QCOMPARE(after.size(), before.size());
        param::CParamStore expected;
        const QString copy = m_files.filePath(QStringLiteral("expected.jdp"));
        QFile::remove(copy);
        QVERIFY(QFile::copy(folder.File(QStringLiteral("param.jdp")), copy));
        QFile out(copy);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(before);
        out.close();
        expected.Init(copy.toStdString(), folder.File(QStringLiteral("default.jdp")).toStdString());
        QVERIFY(expected.LoadParam());
        const std::uint8_t word[4] = {version.a, version.b, version.c, version.d};
        QVERIFY(expected.SetParam(kind == 0 ? 13 : 14, word));
        const std::uint32_t modified = kind == 0 ? 1u << 31 : 1u << 30;
        const std::uint8_t zero[4] = {};
        const std::uint8_t mask[4] = {0, 0, 0, static_cast<std::uint8_t>(modified >> 24)};
        QVERIFY(expected.SetParam(58, zero));
        QVERIFY(expected.SetParam(12, mask));
        QVERIFY(expected.SaveParam());
        QFile saved(copy);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(after, saved.readAll());
        QVERIFY(after != before);
        QCOMPARE(TheWizardJob().modifiedMask, modified);
        window->close();
    }

    // Whole updates from page 5 to Done: the stored image, the report, the bar and the
    // buttons at each stage; then Finish.
    void updateToDone_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("size");
        QTest::newRow("boot") << 0 << 20000;
        QTest::newRow("program") << 1 << 100000;
    }
    void updateToDone() {
        QFETCH(int, kind);
        QFETCH(int, size);
        KELVANE_REQUIRE_BENCH();
        Session session;
        StartSession(session, {QStringLiteral("--erase-delay-ms"), QStringLiteral("50"), QStringLiteral("--burn-delay-ms"),
                               QStringLiteral("50")});
        if (QTest::currentTestFailed()) return;
        auto& [state, sim, watcher, folder, window] = session;
        const auto fileKind = static_cast<fdp::FirmwareKind>(kind);
        const QString path = WriteImage(m_files, QStringLiteral("update.bin"), static_cast<std::size_t>(size));
        ChooseFile(*window, fileKind, path);
        Next(*window);
        QCOMPARE(window->Sheet()->ActiveIndex(), int(PageBurnIndex));
        CPageBurn* page = Burn(*window);
        QVERIFY(QString::fromStdString(page->SummaryText())
                    .endsWith(Res(kind == 0 ? 57776 : 57777) + QStringLiteral("   ") + path + QStringLiteral("\r\n")));
        QCOMPARE(Buttons(*window), QStringLiteral("BN"));

        // Each bar position with the state and the buttons at that moment.
        struct Seen { int bar; int state; QString buttons; };
        QList<Seen> seen;
        QObject::connect(page->ProgressBar(), &QProgressBar::valueChanged, page, [&](int value) {
            seen.append({value, int(page->downloadState()), Buttons(*window)});
        });
        Next(*window);
        QTRY_COMPARE_WITH_TIMEOUT(int(page->downloadState()), int(CPageBurn::DownloadState::Done), kDownloadWaitMs);
        QCOMPARE(Buttons(*window), QStringLiteral("BF"));

        const std::string area = kind == 0 ? "boot" : "program";
        const std::string expected = S(57733) + S(kind == 0 ? 57734 : 57735) + S(57715) + "\r\n" +
                                     S(kind == 0 ? 57702 : 57706) + "\r\n" + S(kind == 0 ? 57704 : 57708) + "\r\n" +
                                     S(kind == 0 ? 57721 : 57723) + S(57692) + "\r\n" +
                                     "The target now reports version 9.0.0.1\r\n";
        // The burnt area's version is read back after the burn's last report.
        QTRY_COMPARE(page->ReportText(), expected);
        QCOMPARE(int(page->downloadState()), int(CPageBurn::DownloadState::Done));
        const auto image = fdp::Sha256File(path.toStdString());
        QVERIFY(image.has_value());
        QCOMPARE(fdp::Sha256File(QDir(state.path()).filePath(QString::fromStdString(area + ".bin")).toStdString()),
                 image);

        // The bar rises through the transfer with only the disabled Finish shown, then
        // stands at 1000 erasing, 1200 burning and 1250 done.
        QVERIFY(!seen.isEmpty());
        int last = -1;
        QList<int> stages;
        for (const Seen& s : seen) {
            if (s.bar <= 1000 && s.state == int(CPageBurn::DownloadState::Transferring)) {
                QVERIFY(s.bar >= last);
                last = s.bar;
                QCOMPARE(s.buttons, QStringLiteral("f"));
            } else {
                stages << s.bar;
            }
        }
        QCOMPARE(last, 1000);
        QCOMPARE(stages, (QList<int>{1200, 1250}));   // erasing starts at the bar's 1000 already shown
        const auto burning = std::find_if(seen.begin(), seen.end(), [](const Seen& s) { return s.bar == 1200; });
        QVERIFY(burning != seen.end());
        QCOMPARE(burning->state, int(CPageBurn::DownloadState::Burning));
        QCOMPARE(burning->buttons, QStringLiteral("f"));
        QCOMPARE(seen.last().state, int(CPageBurn::DownloadState::Done));

        // Finish: the link shut down, kelvane.ini written with the page's summary, ended.
        QFile::remove(folder.File(QStringLiteral("kelvane.ini")));
        window->Sheet()->PressFinish();
        QVERIFY(!window->isVisible());
        QCOMPARE(window->result(), 0);
        const QByteArray ini = folder.Read(QStringLiteral("kelvane.ini"));
        QVERIFY(ini.endsWith(QByteArray::fromStdString(page->SummaryText())));
        QVERIFY(ini.contains(path.toUtf8()));
    }

    // Without a working folder the update goes through; its report says the version
    // was not recorded, and param.jdp is left as it was.
    void updateWithoutAFolderSaysTheVersionWasNotRecorded() {
        KELVANE_REQUIRE_BENCH();
        Session session;
        QCOMPARE(::chmod(QFile::encodeName(session.folder.Path()).constData(), 0777), 0);
        const QByteArray param = session.folder.Read(QStringLiteral("param.jdp"));
        StartSession(session, {QStringLiteral("--erase-delay-ms"), QStringLiteral("50"), QStringLiteral("--burn-delay-ms"),
                               QStringLiteral("50")});
        if (QTest::currentTestFailed()) return;
        auto& [state, sim, watcher, folder, window] = session;
        const QString path = WriteImage(m_files, QStringLiteral("nofolder.bin"), 100000);
        ChooseFile(*window, fdp::FirmwareProgram, path);
        Next(*window);
        QCOMPARE(window->Sheet()->ActiveIndex(), int(PageBurnIndex));
        Next(*window);
        CPageBurn* page = Burn(*window);
        QTRY_COMPARE_WITH_TIMEOUT(int(page->downloadState()), int(CPageBurn::DownloadState::Done), kDownloadWaitMs);
        const QString report = QString::fromStdString(page->ReportText());
        QVERIFY2(report.startsWith(QString::fromStdString(S(57733) + S(57735)) +
                                   QStringLiteral("The firmware's version could not be recorded in param.jdp: "
                                                  "Kelvane has no folder for its files.\r\n") +
                                   QString::fromStdString(S(57715))),
                 qPrintable(report));
        QCOMPARE(fdp::Sha256File(QDir(state.path()).filePath(QStringLiteral("program.bin")).toStdString()),
                 fdp::Sha256File(path.toStdString()));
        QCOMPARE(folder.Read(QStringLiteral("param.jdp")), param);
        window->close();
    }

    // A step failing mid-download: the stopped line, Back and Next again, and a second
    // Next that succeeds (the simulator's fault hits only the first download).
    void failureOffersNextAgain() {
        KELVANE_REQUIRE_BENCH();
        Session session;
        StartSession(session, {QStringLiteral("--block-status"), QStringLiteral("5:1"), QStringLiteral("--fault-downloads"),
                               QStringLiteral("1")});
        if (QTest::currentTestFailed()) return;
        auto& [state, sim, watcher, folder, window] = session;
        const QString path = WriteImage(m_files, QStringLiteral("fail.bin"), 80000);
        ChooseFile(*window, fdp::FirmwareProgram, path);
        Next(*window);
        CPageBurn* page = Burn(*window);
        Next(*window);
        QTRY_COMPARE_WITH_TIMEOUT(QString::fromStdString(page->ReportText()).count(Res(57730)), 1, kDownloadWaitMs);
        QTRY_COMPARE(int(page->downloadState()), int(CPageBurn::DownloadState::Idle));
        QCOMPARE(Buttons(*window), QStringLiteral("BN"));
        QCOMPARE(page->ReportText(), S(57733) + S(57735) + S(57715) + "\r\n" + S(57730) + "\r\n");
        Next(*window);
        QTRY_COMPARE_WITH_TIMEOUT(int(page->downloadState()), int(CPageBurn::DownloadState::Done), kDownloadWaitMs);
        QCOMPARE(page->ReportText().rfind(S(57733), 0), 0u);
        QTRY_VERIFY(QString::fromStdString(page->ReportText())
                        .endsWith(Res(57723) + Res(57692) + QStringLiteral("\r\nThe target now reports version 9.0.0.1\r\n")));
        QCOMPARE(fdp::Sha256File(QDir(state.path()).filePath(QStringLiteral("program.bin")).toStdString()),
                 fdp::Sha256File(path.toStdString()));
        window->close();
    }

    // The adapter pulled out while the target erases the program area (an 80 s wait): the
    // page says at once which adapter went and what the target was left doing, and offers
    // Back and Finish (a retry has nowhere to go); Finish asks nothing, as nothing runs.
    void adapterPulledOutWhileErasing() {
        KELVANE_REQUIRE_BENCH();
        Session session;
        StartSession(session, {QStringLiteral("--erase-delay-ms"), QStringLiteral("60000")});
        if (QTest::currentTestFailed()) return;
        auto& [state, sim, watcher, folder, window] = session;
        const QString path = WriteImage(m_files, QStringLiteral("pulled.bin"), 80000);
        CPageBurn* page = Burn(*window);
        DownloadUntilErasing(*window, path);
        if (QTest::currentTestFailed()) return;
        QTest::qWait(200);
        QElapsedTimer pulled;
        pulled.start();
        const bool unplugged = bench::Run({QStringLiteral("unplug")});
        const auto plugBack = qScopeGuard([] { bench::Run({QStringLiteral("up")}); });
        QVERIFY(unplugged);
        QTRY_COMPARE_WITH_TIMEOUT(int(page->downloadState()), int(CPageBurn::DownloadState::Idle), 15000);
        QVERIFY(pulled.elapsed() < 15000);
        QCOMPARE(page->ReportText(),
                 S(57733) + S(57735) + S(57715) + "\r\n" + S(57706) + "\r\n" +
                     "The adapter kv0 went away (unplugged or removed): the target was erasing its program area. It "
                     "finishes the erase by itself and the area is then empty: plug the adapter in again, connect and "
                     "download the program area again before the target restarts.\r\n");
        QCOMPARE(Buttons(*window), QStringLiteral("BF"));
        QTRY_COMPARE(TheWizardJob().linkState, int(LinkNotConnected));
        watcher.messages.clear();
        window->Sheet()->PressFinish();
        QVERIFY(!window->isVisible());
        QVERIFY2(watcher.messages.isEmpty(), qPrintable(watcher.messages.join(QStringLiteral(" | "))));
    }

    // What a technician does next: the adapter plugged in again, Back to the password
    // page, whose Next connects as at the start, and the same file downloads to the end
    // (the loss did not outlive the new login).
    void adapterPluggedInAgainTheDownloadGoesThrough() {
        KELVANE_REQUIRE_BENCH();
        Session session;
        StartSession(session, {QStringLiteral("--erase-delay-ms"), QStringLiteral("60000")});
        if (QTest::currentTestFailed()) return;
        auto& [state, sim, watcher, folder, window] = session;
        const QString path = WriteImage(m_files, QStringLiteral("again.bin"), 80000);
        CPageBurn* page = Burn(*window);
        DownloadUntilErasing(*window, path);
        if (QTest::currentTestFailed()) return;
        const bool unplugged = bench::Run({QStringLiteral("unplug")});
        const auto plugBack = qScopeGuard([] { bench::Run({QStringLiteral("up")}); });
        QVERIFY(unplugged);
        QTRY_COMPARE_WITH_TIMEOUT(QString::fromStdString(page->ReportText()).count(QStringLiteral("went away")), 1, 15000);
        QTRY_COMPARE(TheWizardJob().linkState, int(LinkNotConnected));

        // Plugged in again: a new pair, and the target restarted on it.
        QVERIFY(bench::Run({QStringLiteral("up")}));
        sim.Stop();
        QVERIFY(sim.Start(SimOptions(state.path())));
        window->Sheet()->PressBack();
        QCOMPARE(window->Sheet()->ActiveIndex(), int(PageFirmFileIndex));
        window->Sheet()->PressBack();
        QCOMPARE(window->Sheet()->ActiveIndex(), int(PageLinkIndex));
        QCOMPARE(Buttons(*window), QStringLiteral("B"));   // no task without a login
        window->Sheet()->PressBack();
        QCOMPARE(window->Sheet()->ActiveIndex(), int(PagePasswdIndex));
        Next(*window);
        QTRY_COMPARE_WITH_TIMEOUT(TheWizardJob().linkState, int(LinkConnected), kConnectWaitMs);
        static_cast<CPageLink*>(window->PageAt(PageLinkIndex))->Radio(1003)->click();
        Next(*window);
        QCOMPARE(window->Sheet()->ActiveIndex(), int(PageFirmFileIndex));
        ChooseFile(*window, fdp::FirmwareProgram, path);
        Next(*window);
        QCOMPARE(window->Sheet()->ActiveIndex(), int(PageBurnIndex));
        Next(*window);
        QTRY_COMPARE_WITH_TIMEOUT(int(page->downloadState()), int(CPageBurn::DownloadState::Done), kDownloadWaitMs);
        QCOMPARE(Buttons(*window), QStringLiteral("BF"));
        QVERIFY2(!QString::fromStdString(page->ReportText()).contains(QStringLiteral("went away")),
                 page->ReportText().c_str());
        QCOMPARE(fdp::Sha256File(QDir(state.path()).filePath(QStringLiteral("program.bin")).toStdString()),
                 fdp::Sha256File(path.toStdString()));
    }

    // The same failure on every retry (a block refused in each of three downloads, then a
    // file missing twice) shows each time, with Back and Next to try again; the run after
    // them succeeds.
    void theSameFailureOnEveryRetryShows() {
        KELVANE_REQUIRE_BENCH();
        Session session;
        StartSession(session, {QStringLiteral("--block-status"), QStringLiteral("5:1"), QStringLiteral("--fault-downloads"),
                               QStringLiteral("3")});
        if (QTest::currentTestFailed()) return;
        auto& [state, sim, watcher, folder, window] = session;
        const QString path = WriteImage(m_files, QStringLiteral("retry.bin"), 80000);
        ChooseFile(*window, fdp::FirmwareProgram, path);
        Next(*window);
        QCOMPARE(window->Sheet()->ActiveIndex(), int(PageBurnIndex));
        CPageBurn* page = Burn(*window);
        const auto failedRun = [&](const std::string& expected) {
            QCOMPARE(Buttons(*window), QStringLiteral("BN"));
            Next(*window);
            QTRY_COMPARE_WITH_TIMEOUT(page->ReportText(), expected, kDownloadWaitMs);
            QCOMPARE(int(page->downloadState()), 0);   // Idle
            QCOMPARE(Buttons(*window), QStringLiteral("BN"));
        };
        for (int run = 1; run <= 3; ++run) {
            failedRun(S(57733) + S(57735) + S(57715) + "\r\n" + S(57730) + "\r\n");
            if (QTest::currentTestFailed()) QFAIL(qPrintable(QStringLiteral("download %1").arg(run)));
        }
        QVERIFY(QFile::rename(path, path + QStringLiteral(".away")));
        for (int run = 1; run <= 2; ++run) {
            failedRun(S(57733) + S(57735) + S(57730) + "\r\n");
            if (QTest::currentTestFailed()) QFAIL(qPrintable(QStringLiteral("missing file %1").arg(run)));
        }
        QVERIFY(QFile::rename(path + QStringLiteral(".away"), path));
        Next(*window);
        QTRY_COMPARE_WITH_TIMEOUT(int(page->downloadState()), int(CPageBurn::DownloadState::Done), kDownloadWaitMs);
        // The burnt area's version is read back after the burn's last report.
        QTRY_VERIFY(QString::fromStdString(page->ReportText())
                        .endsWith(Res(57723) + Res(57692) + QStringLiteral("\r\nThe target now reports version 9.0.0.1\r\n")));
        window->close();
    }

    // While the target erases and burns, Trace and Diagnose are disabled (the link would
    // take them, and their answers would replace the report), and every way out asks the
    // question closing asks: No leaves the download running to its end.
    void whileTheTargetBurnsNothingLeavesWithoutAsking() {
        KELVANE_REQUIRE_BENCH();
        Session session;
        StartSession(session, {QStringLiteral("--erase-delay-ms"), QStringLiteral("3000"), QStringLiteral("--burn-delay-ms"),
                               QStringLiteral("3000")});
        if (QTest::currentTestFailed()) return;
        auto& [state, sim, watcher, folder, window] = session;
        ChooseFile(*window, fdp::FirmwareProgram, WriteImage(m_files, QStringLiteral("burn.bin"), 70000));
        Next(*window);
        CPageBurn* page = Burn(*window);
        window->RevealServiceButtons();
        QVERIFY(page->TraceButton()->isEnabled() && page->DiagnoseButton()->isEnabled());
        watcher.messages.clear();
        watcher.answer = Answer(QString(), CInfoDlg::ResultNo);
        Next(*window);
        QTRY_COMPARE_WITH_TIMEOUT(int(page->downloadState()), 1, kDownloadWaitMs);   // Erasing
        const auto running = [&] { return page->downloadState() == 1 || page->downloadState() == 3; };

        QVERIFY(!page->TraceButton()->isEnabled());
        QVERIFY(!page->DiagnoseButton()->isEnabled());
        const std::string report = page->ReportText();
        QTest::mouseClick(page->DiagnoseButton(), Qt::LeftButton);
        QTest::mouseClick(page->TraceButton(), Qt::LeftButton);
        QCOMPARE(page->ReportText(), report);
        QCOMPARE(Buttons(*window), QStringLiteral("f"));

        const QString question = QStringLiteral("A download to the target is still running.");
        QAction* exitAction = window->MenuBar()->findChild<QAction*>(QStringLiteral("menuExit"));
        QVERIFY(exitAction);
        const std::pair<const char*, std::function<void()>> waysOut[] = {
            {"Finish", [&] { page->OnWizardFinish(); }},
            {"Back", [&] { page->OnWizardBack(); }},
            {"close box", [&] { window->close(); }},
            {"Escape", [&] { QTest::keyClick(window.get(), Qt::Key_Escape); }},
            {"File > Exit", [&] { exitAction->trigger(); }},
        };
        for (const auto& [name, leave] : waysOut) {
            watcher.messages.clear();
            leave();
            QVERIFY2(watcher.messages.size() == 1 && watcher.messages[0].startsWith(question), name);
            QVERIFY2(window->isVisible(), name);
            QVERIFY2(window->Sheet()->ActiveIndex() == int(PageBurnIndex), name);
            QVERIFY2(running(), name);
        }
        QTRY_COMPARE_WITH_TIMEOUT(int(page->downloadState()), int(CPageBurn::DownloadState::Done), kDownloadWaitMs);
        QCOMPARE(page->ReportText().rfind(report, 0), 0u);   // the report went on where it stood
        QVERIFY(page->TraceButton()->isEnabled() && page->DiagnoseButton()->isEnabled());
        watcher.messages.clear();
        QVERIFY(window->close());   // done: no question
        QVERIFY(watcher.messages.isEmpty());
    }

    // A version the target does not give (its answer ends with a failure status) is
    // asked about as an equal one, however new the file, in either language.
    void unreadTargetVersionAsks_data() {
        QTest::addColumn<bool>("chinese");
        QTest::newRow("English") << false;
        QTest::newRow("Chinese") << true;
    }
    void unreadTargetVersionAsks() {
        QFETCH(bool, chinese);
        KELVANE_REQUIRE_BENCH();
        Session session;
        StartSession(session, {QStringLiteral("--program-version"), QStringLiteral("1.0.0.0"),
                               QStringLiteral("--transfer-status"), QStringLiteral("5")});
        if (QTest::currentTestFailed()) return;
        auto& [state, sim, watcher, folder, window] = session;
        ChooseFile(*window, fdp::FirmwareProgram,
                   WriteImage(m_files, QStringLiteral("newer.bin"), 70000, fdp::FirmwareVersion{2, 0, 0, 0}));
        if (chinese) res::SetLanguage(res::Language::Chinese);
        const QString expected = UnreadQuestion(104);
        watcher.messages.clear();
        watcher.answer = Answer(QString(), CInfoDlg::ResultNo);
        Next(*window);
        const QStringList asked = watcher.messages;
        const int stayed = window->Sheet()->ActiveIndex();
        watcher.answer = Answer(QString(), CInfoDlg::ResultYes);
        Next(*window);
        res::SetLanguage(res::Language::English);
        QCOMPARE(asked, QStringList{expected});
        QVERIFY(expected.contains(chinese ? QStringLiteral("无法读取设备中的版本")
                                          : QStringLiteral("the target's version could not be read")));
        QCOMPARE(stayed, int(PageFirmFileIndex));
        QCOMPARE(window->Sheet()->ActiveIndex(), int(PageBurnIndex));
        window->close();
    }

    // The target's answers to the service requests and the Version in Target button that
    // the other tests do not meet: self tests with failed units, a refused test mode, no
    // program in the target.
    void serviceAnswers_data() {
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("expected");
        const auto units = [](std::initializer_list<unsigned> ids) {
            std::string text = S(57746);
            for (unsigned id : ids) text += S(id);
            return QString::fromStdString(text);
        };
        QTest::newRow("diagnose 0x2A") << QStringList{"--diagnose", "0x2a"} << "diagnose"
                                       << units({57749, 57750, 57753, 57754, 57757, 57758});
        // Bit 6 counts for no unit; the byte is an answer, not the 0xFF of none.
        QTest::newRow("diagnose 0x55") << QStringList{"--diagnose", "0x55"} << "diagnose"
                                       << units({57748, 57751, 57752, 57755, 57756, 57759});
        QTest::newRow("diagnose 0x00") << QStringList{"--diagnose", "0"} << "diagnose"
                                       << units({57749, 57751, 57753, 57755, 57757, 57759});
        QTest::newRow("target test mode refused") << QStringList{"--test-mode-status", "1"} << "test mode"
                                                  << QString::fromStdString(S(57733) + S(57742) + S(57762));
        QTest::newRow("no program in the target") << QStringList{"--program-version", "255.255.255.255"}
                                                  << "version in target" << Res(109);
    }
    void serviceAnswers() {
        QFETCH(QStringList, simOptions);
        QFETCH(QString, action);
        KELVANE_REQUIRE_BENCH();
        Session session;
        StartSession(session, simOptions);
        if (QTest::currentTestFailed()) return;
        auto& [state, sim, watcher, folder, window] = session;
        watcher.messages.clear();
        CPageBurn* page = Burn(*window);
        if (action == QLatin1String("version in target")) {
            ChooseFile(*window, fdp::FirmwareProgram, QString());
            Control<QPushButton>(FirmFile(*window), 1099)->click();
            QTEST(watcher.messages.join(QLatin1Char('|')), "expected");
        } else if (action == QLatin1String("diagnose")) {
            window->Sheet()->SetActivePage(PageBurnIndex);
            window->RevealServiceButtons();
            page->DiagnoseButton()->click();
            QTEST(QString::fromStdString(page->ReportText()), "expected");
        } else {
            // The loop test task leaves the buttons as the page before set them: Next there.
            ChooseFile(*window, fdp::FirmwareProgram, QString());
            TheWizardJob().task = TaskLoopTest;
            TheLoopTestChoice().targetTestMode = 1;
            window->Sheet()->SetActivePage(PageBurnIndex);
            Next(*window);
            QTEST(QString::fromStdString(page->ReportText()), "expected");
            QCOMPARE(Buttons(*window), QStringLiteral("BF"));
        }
        window->close();
    }

    // Closing the window while the download runs asks first; No lets it run to Done.
    void closingMidDownloadAsks() {
        KELVANE_REQUIRE_BENCH();
        Session session;
        StartSession(session, {QStringLiteral("--burn-delay-ms"), QStringLiteral("300")});
        if (QTest::currentTestFailed()) return;
        auto& [state, sim, watcher, folder, window] = session;
        ChooseFile(*window, fdp::FirmwareProgram, WriteImage(m_files, QStringLiteral("close.bin"), 300000));
        Next(*window);
        CPageBurn* page = Burn(*window);
        watcher.messages.clear();
        watcher.answer = Answer(QString(), CInfoDlg::ResultNo);
        Next(*window);
        QTRY_VERIFY(page->ProgressBar()->value() > 0);
        QVERIFY(!window->close());
        QCOMPARE(watcher.messages.size(), 1);
        QVERIFY(window->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(int(page->downloadState()), int(CPageBurn::DownloadState::Burning), kDownloadWaitMs);
        QVERIFY(!window->close());   // asked again while burning
        QCOMPARE(watcher.messages.size(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(int(page->downloadState()), int(CPageBurn::DownloadState::Done), kDownloadWaitMs);
        QVERIFY(window->close());   // done: no question
        QCOMPARE(watcher.messages.size(), 2);
    }

    // The service buttons and the target test mode against the simulator.
    void serviceAndTestModeRuns() {
        KELVANE_REQUIRE_BENCH();
        const QString traceFile = m_files.filePath(QStringLiteral("trace.txt"));
        {
            QFile trace(traceFile);
            QVERIFY(trace.open(QIODevice::WriteOnly));
            trace.write("boot ok\r\nlink up on eth0\r\n");
        }
        Session session;
        StartSession(session, {QStringLiteral("--trace-file"), traceFile, QStringLiteral("--diagnose"), QStringLiteral("0x3f")});
        if (QTest::currentTestFailed()) return;
        auto& [state, sim, watcher, folder, window] = session;
        // The versions the simulator reports: program 2.0.0.0, boot 1.0.0.0.
        watcher.messages.clear();
        ChooseFile(*window, fdp::FirmwareProgram, QString());
        Control<QPushButton>(FirmFile(*window), 1099)->click();
        ChooseFile(*window, fdp::FirmwareBoot, QString());
        Control<QPushButton>(FirmFile(*window), 1022)->click();
        QCOMPARE(watcher.messages, (QStringList{Res(103) + QStringLiteral("2.0.0.0"), Res(107) + QStringLiteral("1.0.0.0")}));
        window->Sheet()->SetActivePage(PageBurnIndex);
        window->RevealServiceButtons();
        CPageBurn* page = Burn(*window);
        page->TraceButton()->click();
        QCOMPARE(page->ReportText(), std::string("boot ok\r\nlink up on eth0\r\n"));
        page->DiagnoseButton()->click();
        std::string units = S(57746);
        for (unsigned id : {57748u, 57750u, 57752u, 57754u, 57756u, 57758u}) units += S(id);
        QCOMPARE(page->ReportText(), units);

        TheWizardJob().task = TaskLoopTest;
        TheLoopTestChoice().targetTestMode = 1;
        window->Sheet()->SetActivePage(PageBurnIndex);
        Next(*window);
        QCOMPARE(page->ReportText(), S(57733) + S(57742) + S(57761));
        QCOMPARE(Buttons(*window), QStringLiteral("BF"));
        window->close();
    }
};

int main(int argc, char** argv) {
    bench::EnterPcSide();
    QApplication app(argc, argv);
    res::SetLanguage(res::Language::English);
    FirmwareTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "FirmwareTest.moc"
