// The link's events routed to the pages: the engine's callbacks arrive on its worker
// thread and only post; what the user sees is done on the user-interface thread.

#include "app/KelvaneDlg.h"

#include <QCoreApplication>
#include <chrono>
#include <thread>

#include "app/WizardJob.h"
#include "fdp/FdpEngine.h"
#include "fdp/FormatBdAddr.h"
#include "pages/FdpEvent.h"
#include "pages/PageBurn.h"
#include "pages/PageLink.h"
#include "widgets/DialogText.h"
#include "widgets/InfoDlg.h"

int CKelvaneDlg::Notify(std::uint32_t message, std::uint32_t wParam, std::int32_t lParam) {
    QObject* target = nullptr;
    switch (message) {
    case fdp::WM_FDP_CONNECT: target = m_pageLink; break;
    case fdp::WM_FDP_DOWNLOAD:
    case fdp::WM_FDP_ERASE: target = m_pageBurn; break;
    default: break;
    }
    if (target) QCoreApplication::postEvent(target, new CFdpEvent(message, wParam, lParam));
    // Slows the worker so that the user interface keeps up with the posted events.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return 1;
}

void CKelvaneDlg::Report(unsigned stage, unsigned result, std::uint32_t position, std::uint32_t total) {
    fdp::CFdpGui::Report(stage, result, position, total);
    std::int32_t lParam = 0;
    if (m_reportFilter.Pass(stage, result, position, total, lParam))
        QCoreApplication::postEvent(m_pageBurn, new CFdpEvent(fdp::WM_FDP_REPORT, static_cast<std::uint8_t>(stage), lParam));
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
        const bool connected = Engine() && Engine()->State() == fdp::StateConnected;
        title = connected ? DlgText("Kelvane - adapter %1, target %2", "Kelvane - 网卡 %1，设备 %2")
                                .arg(adapter, QString::fromStdString(FormatBdAddr(TargetAddress())))
                          : DlgText("Kelvane - adapter %1", "Kelvane - 网卡 %1").arg(adapter);
    }
    setWindowTitle(title);
}
