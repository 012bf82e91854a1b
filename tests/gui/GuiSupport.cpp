#include "tests/gui/GuiSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QAbstractButton>
#include <QMessageBox>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include "app/KelvaneDlg.h"
#include "fdp/LinkTexts.h"
#include "fdp/RequestFrontEnd.h"
#include "widgets/InfoDlg.h"

#ifndef KELVANE_BIN_DIR
#error "KELVANE_BIN_DIR names the folder of the built programs"
#endif

namespace {
bool g_enteredPcSide = false;

// The bench's namespaces, named as scripts/bench names them.
QString Namespace(const char* variable, const char* fallback) {
    const QString name = qEnvironmentVariable(variable);
    return name.isEmpty() ? QString::fromLatin1(fallback) : name;
}
}  // namespace

DialogWatcher::DialogWatcher() {
    connect(&m_timer, &QTimer::timeout, this, &DialogWatcher::Poll);
    m_timer.start(20);
}

void DialogWatcher::Poll() {
    if (paused) return;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (!widget->isVisible()) continue;
        if (auto* info = qobject_cast<CInfoDlg*>(widget)) {
            messages << info->Message();
            if (probe) probed << probe();
            info->done(answer ? answer(info->Message()) : int{CInfoDlg::ResultOk});
        } else if (auto* box = qobject_cast<QMessageBox*>(widget)) {
            messages << box->text();
            captions << box->windowTitle();
            details << box->informativeText();
            QStringList texts;
            for (QAbstractButton* button : box->buttons()) texts << button->text();
            buttons << texts.join(QStringLiteral(" | "));
            box->done(QMessageBox::Ok);
        }
    }
}

namespace bench {

void EnterPcSide() {
    if (geteuid() != 0) return;
    const QByteArray path = "/run/netns/" + Namespace("KELVANE_PC_NS", "kvpc").toLocal8Bit();
    const int fd = open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    g_enteredPcSide = setns(fd, CLONE_NEWNET) == 0;
    close(fd);
    // Adapter discovery reads /sys/class/net, which shows the namespace that mounted
    // it: mount a sysfs of our own, in a mount namespace of our own, as ip netns exec
    // does.
    if (g_enteredPcSide) {
        g_enteredPcSide = unshare(CLONE_NEWNS) == 0 &&
                          mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                          umount2("/sys", MNT_DETACH) == 0 && mount("sysfs", "/sys", "sysfs", 0, nullptr) == 0;
    }
}

bool InCi() { return qEnvironmentVariable("CI") == QLatin1String("true"); }

QString Missing() {
    if (geteuid() != 0) return QStringLiteral("the bench needs root");
    if (!g_enteredPcSide) return QStringLiteral("the bench is down (run scripts/bench up)");
    if (!QFile::exists(BuiltProgram("kelvane-nap-sim"))) return QStringLiteral("kelvane-nap-sim is not built");
    return {};
}

bool Available() { return Missing().isEmpty(); }

bool Run(const QStringList& arguments) {
    QProcess bench;
    bench.start(QStringLiteral(KELVANE_SOURCE_DIR "/scripts/bench"), arguments);
    return bench.waitForFinished(30000) && bench.exitStatus() == QProcess::NormalExit && bench.exitCode() == 0;
}

}  // namespace bench

QString BuiltProgram(const char* name) { return QStringLiteral(KELVANE_BIN_DIR "/") + QLatin1String(name); }

SimulatedTarget::~SimulatedTarget() { Stop(); }

bool SimulatedTarget::Start(const QStringList& extraArguments, const QString& interfaceName) {
    QStringList arguments{QStringLiteral("netns"), QStringLiteral("exec"), Namespace("KELVANE_NAP_NS", "kvnap"),
                          BuiltProgram("kelvane-nap-sim"), QStringLiteral("--interface"), interfaceName};
    arguments << extraArguments;
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral("ip"), arguments);
    return m_process.waitForStarted(5000);
}

// ip netns exec replaces itself with the simulator, so the signal reaches it.
void SimulatedTarget::Stop() {
    if (m_process.state() == QProcess::NotRunning) return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

ProgramFolder::ProgramFolder() {
    // Both start from the built-in block: the build's own param.jdp is a working file
    // that a run of the wizard from the build folder may have changed.
    for (const char* name : {"param.jdp", "default.jdp"}) {
        QFile::copy(QStringLiteral(KELVANE_BIN_DIR "/default.jdp"), File(QLatin1String(name)));
        QFile(File(QLatin1String(name))).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }
}

QByteArray ProgramFolder::Read(const QString& name) const {
    QFile file(File(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

namespace {
bool CapabilityCall(long call, __user_cap_data_struct (&data)[2]) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(call, &header, data) == 0;
}
}  // namespace

DroppedCapabilities::DroppedCapabilities(std::initializer_list<int> capabilities) {
    __user_cap_data_struct data[2] = {};
    if (!CapabilityCall(SYS_capget, data)) return;
    for (int i = 0; i < 2; ++i) m_saved[i] = data[i].effective;
    for (int capability : capabilities) data[capability / 32].effective &= ~(1u << (capability % 32));
    m_changed = CapabilityCall(SYS_capset, data);
}

DroppedCapabilities::~DroppedCapabilities() {
    __user_cap_data_struct data[2] = {};
    if (!m_changed || !CapabilityCall(SYS_capget, data)) return;
    for (int i = 0; i < 2; ++i) data[i].effective = m_saved[i];
    CapabilityCall(SYS_capset, data);
}

UnwritableFolder::UnwritableFolder(const ProgramFolder& folder)
    : m_path(folder.Path()), m_permissions(QFileInfo(m_path).permissions()) {
    QFile::setPermissions(m_path, QFile::ReadOwner | QFile::ExeOwner);
    m_user = std::make_unique<DroppedCapabilities>(std::initializer_list<int>{CAP_DAC_OVERRIDE});
}

UnwritableFolder::~UnwritableFolder() {
    m_user.reset();
    QFile::setPermissions(m_path, m_permissions);
}

std::unique_ptr<CKelvaneDlg> OpenMainWindow(const ProgramFolder& folder, const char* interfaceName, bool allTasks,
                                            const std::string& dongle) {
    CKelvaneDlg::Options options;
    options.dongleDevice = dongle;
    options.interfaceName = interfaceName;
    options.programFolder = folder.Path().toStdString();
    options.allTasks = allTasks;
    auto window = std::make_unique<CKelvaneDlg>(options);
    window->show();
    window->Start();
    return window;
}

bool TellStage(CKelvaneDlg& window, unsigned number, unsigned result, quint32 position, quint32 total) {
    const auto stage = fdp::Stage::FromNumber(number);
    if (stage) window.FrontEnd().Publish(fdp::StageReport{*stage, result, position, total, {}});
    return stage.has_value();
}

fdp::StageReport LinkStageReport(CKelvaneDlg& window, unsigned number, quint32 value) {
    fdp::StageReport report;
    report.stage = fdp::Stage::FromNumber(number).value();
    const bool transfer = report.stage.IsTransferring();
    report.result = transfer ? 0 : value;
    report.position = transfer ? value : 0;
    report.total = 1000;
    report.text = window.FrontEnd()
                      .AdapterLostText(report.stage, report.result)
                      .value_or(fdp::ReportStatusText(report.stage, report.result));
    return report;
}

QByteArray Le32(qint32 value) {
    QByteArray bytes(4, '\0');
    const auto v = static_cast<quint32>(value);
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return bytes;
}

QByteArray Text(const QByteArray& text) {
    return QByteArray(1, static_cast<char>(text.size())) + text;   // short texts only
}
