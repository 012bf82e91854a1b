// The link's events routed to the pages: they arrive on the link's threads and are only
// handed on; what the user sees is done on the user-interface thread.

#include "app/KelvaneDlg.h"

#include <QThread>
#include <utility>
#include <variant>

#include "fdp/LinkSession.h"
#include "fdp/FormatBdAddr.h"
#include "pages/PageBurn.h"
#include "pages/PageLink.h"
#include "pages/WizardJob.h"
#include "widgets/DialogText.h"
#include "widgets/InfoDlg.h"
#include "resources/strings/StringIds.h"
#include "resources/strings/StringTable.h"

namespace {

// Runs call later on the receiver's thread, with the copy of what the link told that it
// holds. Queued calls of one thread run in the order queued.
template <typename Call>
void HandOn(QObject* receiver, Call call) {
    QMetaObject::invokeMethod(receiver, std::move(call), Qt::QueuedConnection);
}

}  // namespace

void CKelvaneDlg::OnLinkEvent(const fdp::LinkEvent& event) {
    std::visit([this](const auto& told) { TakeLinkEvent(told); }, event);
}

void CKelvaneDlg::TakeLinkEvent(const fdp::StageReport& report) {
    if (!m_reportFilter.Pass(report)) return;
    if (report.stage.IsTransferring()) {
        {
            // Stored before the flag is looked at: a hand-on on its way takes this report.
            std::lock_guard lock(m_progressLock);
            m_progress = report;
        }
        if (!m_progressPending.exchange(true)) HandOn(this, [this] { ForwardProgress(); });
        return;
    }
    HandOn(this, [this, report] { emit StageReported(report); });
}

// Queued before the reports of the stages that follow the transfer, so it still comes
// before them.
void CKelvaneDlg::ForwardProgress() {
    fdp::StageReport report;
    {
        std::lock_guard lock(m_progressLock);
        m_progressPending = false;
        report = m_progress;
    }
    emit StageReported(report);
}

// Worker thread: a transfer's result is kept for TargetVersion before the waits hear
// that the job ended; the connection page hears how a listen ended.
void CKelvaneDlg::TakeLinkEvent(const fdp::JobEnded& ended) {
    if (ended.job == fdp::JobTransfer) m_transferResult = ended.result;
    HandOn(this, [this] { emit JobEnded(); });
    if (ended.job == fdp::JobListen) HandOn(this, [this, ended] { emit ListenEnded(ended); });
}

// A new download or request: the report filter forgets the last run's pair, so that a
// retry failing as the run before it is still reported.
void CKelvaneDlg::TakeLinkEvent(const fdp::RequestAccepted&) { m_reportFilter.Forget(); }

void CKelvaneDlg::TakeLinkEvent(const fdp::AdapterMoved&) { HandOn(this, [this] { UpdateTitle(); }); }

// The adapter in use went away: the download page says so with the step that ended; the
// pages and the title stop counting on the login, which went with the adapter.
void CKelvaneDlg::TakeLinkEvent(const fdp::AdapterLost&) {
    HandOn(this, [this] {
        TheWizardJob().linkState = LinkNotConnected;
        UpdateTitle();
    });
}

// The connection and download pages name the other target.
void CKelvaneDlg::TakeLinkEvent(const fdp::OtherTargetHeard&) {
    HandOn(this, [this] {
        if (m_pageLink) m_pageLink->ShowOtherTargets();
        if (m_pageBurn) m_pageBurn->RefreshSummary();
    });
}

// The connection page lists the targets heard for the user to choose.
void CKelvaneDlg::TakeLinkEvent(const fdp::SeveralTargetsHeard& several) {
    HandOn(this, [this, targets = several.targets] { if (m_pageLink) m_pageLink->ShowSeveralTargets(targets); });
}

// The download page's report gets the version line.
void CKelvaneDlg::TakeLinkEvent(const fdp::VersionAfterBurn& after) {
    const std::string line = after.version ? res::FormatString(res::IDS_VERSION_AFTER, {after.version->Text()})
                                           : res::LoadString(res::IDS_VERSION_AFTER_UNREAD);
    HandOn(this, [this, line] { if (m_pageBurn) m_pageBurn->AppendReportLine(line); });
}

// The status help of the connection page: why a target that announced is not answered.
void CKelvaneDlg::TakeLinkEvent(const fdp::LinkNotice& notice) {
    HandOn(this, [this, line = QString::fromStdString(notice.text)] { SetStatusText(line); });
}

// Given while a request is made: on the window's thread the box shows before the
// request returns, as it always has.
void CKelvaneDlg::TakeLinkEvent(const fdp::LinkWarning& warning) {
    if (QThread::currentThread() == thread()) ShowMessageBox(warning.text);
    else HandOn(this, [this, text = warning.text] { ShowMessageBox(text); });
}

void CKelvaneDlg::OnConnectResult(fdp::ConnectResult result) {
    QString text;
    bool dialog = true;
    switch (result) {
    case fdp::ConnectOk: {
        const fdp::MacAddress address = m_frontEnd.TargetAddress();
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
        m_frontEnd.SetStatusText(text.toStdString());
        dialog = false;
        break;
    }
    SetStatusText(text);
    if (dialog) ShowInfo(text, CInfoDlg::ButtonOk);
    if (result != fdp::ConnectOk) return;

    // One line per connection in Target_Bt_Addr.txt: the address, a zero byte and the
    // target's program version.
    const std::string versionText = TargetVersion(fdp::kVersionWantedProgram).Text();
    std::string record = TheWizardJob().connectedWith;
    record += '\0';
    record += versionText;
    m_frontEnd.WriteAddressLine(reinterpret_cast<const std::uint8_t*>(record.data()),
                                static_cast<std::uint8_t>(record.size()));
}

// With several adapters the technician sees which one the wizard uses, and once logged
// in, which target answered.
void CKelvaneDlg::UpdateTitle() {
    const QString adapter = QString::fromStdString(m_frontEnd.AdapterName());
    QString title = kCaption;
    if (!adapter.isEmpty()) {
        const bool connected = m_engine && m_engine->State() == fdp::StateConnected;
        // A target chosen with --target is the only one the wizard talks to: named at once.
        const std::optional<fdp::MacAddress> target =
            connected ? std::optional<fdp::MacAddress>(m_frontEnd.TargetAddress()) : m_options.target;
        title = target ? DlgText("Kelvane - adapter %1, target %2")
                             .arg(adapter, QString::fromStdString(FormatBdAddr(*target)))
                       : DlgText("Kelvane - adapter %1").arg(adapter);
    }
    setWindowTitle(title);
}
