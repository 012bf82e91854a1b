// kelvane-gui-bench: a 2,023,424-byte program update through the real main window
// (offscreen) against the simulator on the veth bench, from Next on the download page
// to Done. Prints the time against the pacing floor (one pause of the pace per block: the
// wizard's 10 ms by default, which targets are known to take) and the longest time the
// user-interface thread went without handling events meanwhile. At --pace-ms 0 there is
// no floor: the goal is Next to Done within a second and still no stall.
//   kelvane-gui-bench [--runs N] [--pace-ms N]   (3 runs, 10 ms; needs root and scripts/bench up)
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdio>

#include "app/KelvaneDlg.h"
#include "fdp/LinkSession.h"
#include "fdp/FirmwareFile.h"
#include "pages/FirmSheet.h"
#include "pages/PageBurn.h"
#include "pages/PageLink.h"
#include "pages/PagePasswd.h"
#include "pages/WizardJob.h"
#include "tests/gui/GuiSupport.h"
#include "widgets/ControlId.h"
#include "widgets/InfoDlg.h"

namespace {

constexpr std::size_t kImageSize = 2023424;
constexpr int kHeartbeatMs = 1;

// The longest gap between two heartbeats of a timer on the user-interface thread: how
// long the thread went without handling events.
class StallMeter : public QObject {
public:
    StallMeter() {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(kHeartbeatMs);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            if (m_last >= 0) m_longest = std::max(m_longest, now - m_last);
            m_last = now;
        });
    }
    void Start() {
        m_longest = 0;
        m_last = -1;
        m_clock.start();
        m_timer.start();
    }
    double Stop() {
        m_timer.stop();
        return static_cast<double>(m_longest) / 1e6;
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = -1;
    qint64 m_longest = 0;
};

bool Fail(const char* why) {
    std::fprintf(stderr, "kelvane-gui-bench: %s\n", why);
    return false;
}

bool Run(int runs, unsigned paceMs) {
    if (!bench::Available()) return Fail(qPrintable(bench::Missing()));
    QTemporaryDir state, files;
    SimulatedTarget sim;
    if (!sim.Start({QStringLiteral("--announce-ms"), QStringLiteral("100"), QStringLiteral("--state"), state.path()}))
        return Fail("the simulator did not start");
    DialogWatcher watcher;
    // Yes to the downgrade question of the runs after the first (the target then holds
    // the same version), Ok to the rest.
    watcher.answer = [](const QString&) { return int{CInfoDlg::ResultYes}; };
    ProgramFolder folder;
    CKelvaneDlg::Options options;
    options.interfaceName = bench::kPcInterface;
    options.programFolder = folder.Path().toStdString();
    options.paceMs = paceMs;
    auto window = std::make_unique<CKelvaneDlg>(options);
    window->show();
    window->Start();
    CFirmSheet* sheet = window->Sheet();
    sheet->PressNext();
    static_cast<CPagePasswd*>(window->PageAt(PagePasswdIndex))->PasswordEdit()->setText(QStringLiteral("kiwi"));
    sheet->PressNext();
    if (!QTest::qWaitFor([] { return TheWizardJob().linkState == LinkConnected; }, 20000))
        return Fail("no connection with the simulator");
    static_cast<CPageLink*>(window->PageAt(PageLinkIndex))->Radio(1003)->click();
    sheet->PressNext();

    const QString path = files.filePath(QStringLiteral("program.bin"));
    {
        const auto image = fdp::MakeSampleFirmware(kImageSize, fdp::FirmwareVersion{9, 0, 0, 1});
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly) ||
            out.write(reinterpret_cast<const char*>(image.data()), static_cast<qint64>(image.size())) !=
                static_cast<qint64>(image.size()))
            return Fail("cannot write the image");
    }
    QWidget* page5 = window->PageAt(PageFirmFileIndex);
    qobject_cast<QCheckBox*>(FindControl(page5, 1012))->click();
    qobject_cast<QLineEdit*>(FindControl(page5, 1019))->setText(path);

    auto* burn = static_cast<CPageBurn*>(window->PageAt(PageBurnIndex));
    const std::size_t blocks = (kImageSize + 1023) / 1024;
    const double floorMs = static_cast<double>(blocks) * paceMs;
    std::printf("kelvane-gui-bench: program update of %zu bytes (%zu blocks) through the main window, offscreen\n",
                kImageSize, blocks);
    std::printf("pacing floor: %zu blocks x %u ms = %.0f ms\n", blocks, paceMs, floorMs);
    StallMeter stalls;
    for (int run = 1; run <= runs; ++run) {
        if (run > 1) sheet->PressBack();   // Done offers Back to the firmware file page
        sheet->PressNext();
        if (sheet->ActiveIndex() != PageBurnIndex) return Fail("the firmware file page did not go on");
        // A version answer later than the page's wait still holds the engine; a technician
        // takes longer than that to press Next.
        const fdp::CRequestFrontEnd& front = window->FrontEnd();
        (void)QTest::qWaitFor([&] { return front.Engine() && front.Engine()->CurrentJob() == fdp::JobNone; }, 5000);
        QElapsedTimer clock;
        double transferMs = 0;
        // The bar reaches 1000 with the last block's report.
        const QMetaObject::Connection barWatch =
            QObject::connect(burn->ProgressBar(), &QProgressBar::valueChanged, burn, [&](int value) {
                if (value >= 1000 && transferMs == 0) transferMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
            });
        stalls.Start();
        clock.start();
        sheet->PressNext();
        const bool done = QTest::qWaitFor(
            [&] {
                return burn->downloadState() == CPageBurn::DownloadState::Done ||
                       (burn->downloadState() == CPageBurn::DownloadState::Idle && clock.elapsed() > 1000);
            },
            120000);
        const double totalMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        const double longestGap = stalls.Stop();
        QObject::disconnect(barWatch);
        if (!done || burn->downloadState() != CPageBurn::DownloadState::Done) {
            std::fprintf(stderr, "%s\n%s\n", burn->ReportText().c_str(), window->FrontEnd().resultText().c_str());
            return Fail("the update did not reach Done");
        }
        if (paceMs > 0)
            std::printf("run %d: Next to Done %.0f ms (transfer %.0f ms, erase + burn %.0f ms); ratio to the floor %.3f "
                        "(goal <= 1.05); longest UI stall %.1f ms (goal < 50)\n",
                        run, totalMs, transferMs, totalMs - transferMs, totalMs / floorMs, longestGap);
        else
            std::printf("run %d: Next to Done %.0f ms (goal < 1000; transfer %.0f ms, erase + burn %.0f ms); longest UI "
                        "stall %.1f ms (goal < 50)\n",
                        run, totalMs, transferMs, totalMs - transferMs, longestGap);
        std::fflush(stdout);
    }
    window->close();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 3;
    unsigned paceMs = 10;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg = argv[i];
        bool number = true;
        if (arg == "--runs" && i + 1 < argc) runs = std::max(1, QByteArray(argv[++i]).toInt());
        else if (arg == "--pace-ms" && i + 1 < argc) paceMs = QByteArray(argv[++i]).toUInt(&number);
        else number = false;
        if (!number || paceMs > 100) {
            std::fprintf(stderr, "usage: kelvane-gui-bench [--runs N] [--pace-ms 0..100]\n");
            return 1;
        }
    }
    bench::EnterPcSide();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return Run(runs, paceMs) ? 0 : 1;
}
