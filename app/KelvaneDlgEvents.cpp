// The link's events routed to the pages: the engine's callbacks arrive on its worker
// thread and only post; what the user sees is done on the user-interface thread.

#include "app/KelvaneDlg.h"

#include <QCoreApplication>

#include "fdp/FdpEngine.h"
#include "fdp/FormatBdAddr.h"
#include "pages/FdpEvent.h"
#include "pages/PageBurn.h"
#include "pages/PageLink.h"
#include "pages/WizardJob.h"
#include "widgets/DialogText.h"
#include "widgets/InfoDlg.h"
#include "resources/strings/StringIds.h"
#include "resources/strings/StringTable.h"

int CKelvaneDlg::Notify(std::uint32_t message, std::uint32_t wParam, std::int32_t lParam) {
    QObject* target = nullptr;
    switch (message) {
    case fdp::WM_FDP_CONNECT: target = m_pageLink; break;
    case fdp::WM_FDP_DOWNLOAD:
    case fdp::WM_FDP_ERASE: target = m_pageBurn; break;
    default: break;
    }
    // A transfer's progress goes with the coalesced hand-on of its report.
    if (message == fdp::WM_FDP_DOWNLOAD && wParam == fdp::NotifyProgress) target = nullptr;
    if (target) QCoreApplication::postEvent(target, new CFdpEvent(message, wParam, lParam));
    // The pace: the worker waits before its next block.
    Pace();
    return 1;
}

void CKelvaneDlg::Report(unsigned stage, unsigned result, std::uint32_t position, std::uint32_t total) {
    fdp::CFdpGui::Report(stage, result, position, total);
    std::int32_t lParam = 0;
    if (!m_reportFilter.Pass(stage, result, position, total, lParam)) return;
    if (stage == fdp::kStageTransferring) {
        // Stored before the flag is looked at: a hand-on on its way takes this position.
        m_progressPosition = lParam;
        if (!m_progressPending.exchange(true))
            QMetaObject::invokeMethod(this, &CKelvaneDlg::ForwardProgress, Qt::QueuedConnection);
        return;
    }
    QCoreApplication::postEvent(m_pageBurn, new CFdpEvent(fdp::WM_FDP_REPORT, static_cast<std::uint8_t>(stage), lParam));
}

// Posted events of one thread arrive in the order posted, so the hand-on still comes
// before the reports of the stages that follow the transfer.
void CKelvaneDlg::ForwardProgress() {
    m_progressPending = false;
    const std::int32_t position = m_progressPosition;
    CFdpEvent report(fdp::WM_FDP_REPORT, fdp::kStageTransferring, position);
    QCoreApplication::sendEvent(m_pageBurn, &report);
    CFdpEvent progress(fdp::WM_FDP_DOWNLOAD, fdp::NotifyProgress, position);
    QCoreApplication::sendEvent(m_pageBurn, &progress);
}

void CKelvaneDlg::OnOtherTarget(const fdp::MacAddress& address) {
    fdp::CFdpGui::OnOtherTarget(address);
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_pageLink) m_pageLink->ShowOtherTargets();
            if (m_pageBurn) m_pageBurn->RefreshSummary();
        },
        Qt::QueuedConnection);
}

void CKelvaneDlg::OnSeveralTargets(const std::vector<fdp::HeardTarget>& targets) {
    fdp::CFdpGui::OnSeveralTargets(targets);
    QMetaObject::invokeMethod(
        this, [this, targets] { if (m_pageLink) m_pageLink->ShowSeveralTargets(targets); }, Qt::QueuedConnection);
}

void CKelvaneDlg::OnBurntVersion(std::uint8_t kind, std::optional<fdp::FirmwareVersion> version) {
    fdp::CFdpGui::OnBurntVersion(kind, version);
    const std::string line = version ? res::FormatString(res::IDS_VERSION_AFTER, {version->Text()})
                                     : res::LoadString(res::IDS_VERSION_AFTER_UNREAD);
    QMetaObject::invokeMethod(
        this, [this, line] { if (m_pageBurn) m_pageBurn->AppendReportLine(line); }, Qt::QueuedConnection);
}

void CKelvaneDlg::OnRequestAccepted(std::uint8_t) { m_reportFilter.Forget(); }

void CKelvaneDlg::OnConnectResult(std::uint32_t wParam, std::int32_t) {
    QString text;
    bool dialog = true;
    switch (wParam) {
    case fdp::ConnectOk: {
        const fdp::MacAddress address = TargetAddress();
        TheWizardJob().connectedWith = FormatBdAddr(address);
        UpdateTitle();
        text = ResString(57671) + QString::fromStdString(TheWizardJob().connectedWith) + QStringLiteral("!");
        dialog = false;
        break;
    }
    case fdp::ConnectBadPassword: text = ResString(111); break;
    case fdp::ConnectTimeout: text = ResString(57670); break;
    case fdp::ConnectFlashUnsupported: text = ResString(57673); break;
    case fdp::ConnectVersionLow: text = ResString(57674); break;
    default:
        text = ResString(57675);
        fdp::CFdpGui::SetStatusText(text.toStdString());
        dialog = false;
        break;
    }
    SetStatusText(text);
    if (dialog) ShowInfo(text, CInfoDlg::ButtonOk);
    if (wParam != fdp::ConnectOk) return;

    // One line per connection in Target_Bt_Addr.txt: the address, a zero byte and the
    // target's program version.
    const std::string versionText = TargetVersion(kProgramVersionWanted).Text();
    std::string record = TheWizardJob().connectedWith;
    record += '\0';
    record += versionText;
    WriteAddressLine(reinterpret_cast<const std::uint8_t*>(record.data()), static_cast<std::uint8_t>(record.size()));
}

void CKelvaneDlg::OnAdapterMoved(int index) {
    fdp::CFdpGui::OnAdapterMoved(index);
    QMetaObject::invokeMethod(this, &CKelvaneDlg::UpdateTitle, Qt::QueuedConnection);
}

void CKelvaneDlg::OnAdapterLost(const std::string& adapter) {
    fdp::CFdpGui::OnAdapterLost(adapter);
    // The download page says so with the step that ended; the pages and the title stop
    // counting on the login, which went with the adapter.
    QMetaObject::invokeMethod(
        this,
        [this] {
            TheWizardJob().linkState = LinkNotConnected;
            UpdateTitle();
        },
        Qt::QueuedConnection);
}

// The status help of the connection page: why a target that announced is not answered.
void CKelvaneDlg::OnLinkNotice(const std::string& text) {
    fdp::CFdpGui::OnLinkNotice(text);
    QMetaObject::invokeMethod(this, [this, line = QString::fromStdString(text)] { SetStatusText(line); },
                              Qt::QueuedConnection);
}

// With several adapters the technician sees which one the wizard uses, and once logged
// in, which target answered.
void CKelvaneDlg::UpdateTitle() {
    const QString adapter = QString::fromStdString(AdapterName());
    QString title = kCaption;
    if (!adapter.isEmpty()) {
        const bool connected = m_engine && m_engine->State() == fdp::StateConnected;
        // A target chosen with --target is the only one the wizard talks to: named at once.
        const std::optional<fdp::MacAddress> target =
            connected ? std::optional<fdp::MacAddress>(TargetAddress()) : m_options.target;
        title = target ? DlgText("Kelvane - adapter %1, target %2", "Kelvane - 网卡 %1，设备 %2")
                             .arg(adapter, QString::fromStdString(FormatBdAddr(*target)))
                       : DlgText("Kelvane - adapter %1", "Kelvane - 网卡 %1").arg(adapter);
    }
    setWindowTitle(title);
}
