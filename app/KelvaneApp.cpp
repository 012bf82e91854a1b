#include "app/KelvaneApp.h"

#include <QMessageBox>

#include "app/KelvaneDlg.h"
#include "app/QtTranslation.h"
#include "app/SingleInstance.h"
#include "fdp/TargetAddress.h"
#include "pages/WizardJob.h"
#include "resources/strings/StringIds.h"
#include "resources/strings/StringTable.h"

CKelvaneApp::CKelvaneApp(int& argc, char** argv, CKelvaneOptions options, fdp::LinkBrokerHandle broker)
    : QApplication(argc, argv), m_options(std::move(options)), m_broker(broker) {
    WizardJob& job = TheWizardJob();
    job.linkState = LinkNotConnected;
    job.modifiedMask = 0;
    job.registerMask = 0;
    setOrganizationName(QStringLiteral("Jox Corporation"));
    setApplicationName(QStringLiteral("Kelvane"));
}

CKelvaneApp::~CKelvaneApp() = default;

void CKelvaneApp::SelectLanguage() {
    res::UseSystemLanguage();
    InstallQtTranslation(res::CurrentCatalogue());
}

int CKelvaneApp::InitInstance() {
    // The texts are in the user's language: chosen before the words are looked up.
    SelectLanguage();
    if (!m_options.target.empty()) {
        m_target = fdp::ParseTargetAddress(m_options.target);
        if (!m_target) {
            QMessageBox::critical(nullptr, QStringLiteral("Kelvane"),
                                  QString::fromStdString(res::FormatString(res::IDS_BAD_TARGET_ADDRESS, {m_options.target})));
            return 1;
        }
    }
    m_instance = new CSingleInstance(CSingleInstance::RuntimeFolder(), this);
    if (m_instance->ClaimOrRaise([this] { RaiseMainWindow(); })) return 0;

    CKelvaneDlg::Options options;
    options.interfaceName = m_options.interfaceName;
    options.allTasks = m_options.allTasks;
    options.dongleDevice = m_options.dongleDevice;
    options.target = m_target;
    options.paceMs = m_options.paceMs;
    options.broker = m_broker;
    CKelvaneDlg dialog(options);
    m_mainWindow = &dialog;
    dialog.show();
    dialog.Start();
    if (dialog.isVisible()) dialog.exec();
    m_mainWindow = nullptr;
    return 0;
}

// Brings the window, and a dialog it shows, to the front.
void CKelvaneApp::RaiseMainWindow() {
    if (!m_mainWindow) return;
    if (m_mainWindow->isMinimized()) m_mainWindow->showNormal();
    m_mainWindow->raise();
    m_mainWindow->activateWindow();
    if (QWidget* popup = activeModalWidget(); popup && popup != m_mainWindow) {
        popup->raise();
        popup->activateWindow();
    }
}
