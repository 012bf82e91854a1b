// The main window as the link's owner: the driver, the engine and the parameter store
// started with the window and shut down with it, and the downloads it hands on.

#include "app/KelvaneDlg.h"

#include "fdp/LinkSession.h"
#include "fdp/LinkChannel.h"
#include "fdp/PacketSocketDriver.h"
#include "fdp/param/ParamStore.h"
#include "fdp/param/ParamTasks.h"
#include "pages/WizardJob.h"
#include "resources/strings/StringIds.h"
#include "widgets/DialogText.h"
#include "widgets/InfoDlg.h"

namespace {

constexpr unsigned kNoInterfaceId = 3009;

}  // namespace

int CKelvaneDlg::StartLink() {
    if (!m_frontEnd.StartLink()) {
        // trace.txt or Target_Bt_Addr.txt cannot be created: the folder is at fault,
        // not the hardware, and the user is told which folder.
        m_linkUnavailable = QString::fromStdString(res::FormatString(res::IDS_FOLDER_NOT_WRITABLE, {m_frontEnd.ProgramFolder()}));
        ShowInfo(m_linkUnavailable, CInfoDlg::ButtonOk);
        return 0;
    }

    m_driver = std::make_unique<fdp::CPacketSocketDriver>(m_options.broker);
    if (!m_options.interfaceName.empty()) m_driver->SetInterfaceFilter(m_options.interfaceName);
    m_engine = std::make_unique<fdp::CLinkSession>();
    m_frontEnd.SetLink(m_engine.get(), m_driver.get());
    m_frontEnd.SetPaceMs(m_options.paceMs);
    m_engine->Start(m_driver.get(), &m_frontEnd);
    if (m_options.target) m_engine->Channel()->SetChosenTarget(*m_options.target);

    const int opened = m_frontEnd.OpenFirstAdapter();
    UpdateTitle();
    if (opened < 0) {
        // Why the adapter did not open (typically a missing privilege), in words the
        // user can act on.
        const QString message = QString::fromStdString(m_frontEnd.NoAdapterMessage("\r\n\r\n"));
        ShowInfo(message, CInfoDlg::ButtonOk);
        return 0;
    }

    m_paramStore = std::make_unique<param::CParamStore>();
    const std::string& folder = m_frontEnd.ProgramFolder();
    m_paramStore->Init(folder.empty() ? std::string() : folder + "param.jdp", m_defaultFile);
    m_paramStore->LoadParam();
    return 1;
}

void CKelvaneDlg::ShutdownLink() {
    if (m_engine) m_engine->Stop();
    m_frontEnd.SetLink(nullptr, nullptr);
    m_engine.reset();
    m_driver.reset();
    m_paramStore.reset();
    m_frontEnd.ShutdownLink();
}

int CKelvaneDlg::StartDownload(std::uint8_t kind, const std::string& path) {
    static constexpr const char* kTasks[] = {"firmware", "name and password", "DHCP and NAT", "loop test", "register"};
    const std::int32_t task = TheWizardJob().task;
    m_frontEnd.History().SetTask(task >= 0 && task < static_cast<std::int32_t>(std::size(kTasks)) ? kTasks[task] : "");
    if (kind == fdp::KindParam)
        m_frontEnd.History().SetFields(param::ChangedFieldNames(TheWizardJob().modifiedMask, TheWizardJob().registerMask));
    return m_frontEnd.StartDownload(kind, path);
}

QString CKelvaneDlg::LinkUnavailableText() const {
    return m_linkUnavailable.isEmpty() ? ResString(kNoInterfaceId) : m_linkUnavailable;
}
