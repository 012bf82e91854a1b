#include "app/KelvaneApp.h"

#include "app/KelvaneDlg.h"
#include "app/QtTranslation.h"
#include "app/SingleInstance.h"
#include "app/WizardJob.h"
#include "resources/strings/StringTable.h"

CKelvaneApp::CKelvaneApp(int& argc, char** argv, CKelvaneOptions options)
    : QApplication(argc, argv), m_options(std::move(options)) {
    WizardJob& job = TheWizardJob();
    job.linkState = LinkNotConnected;
    job.modifiedMask = 0;
    job.registerMask = 0;
    setOrganizationName(QStringLiteral("Jox Corporation"));
    setApplicationName(QStringLiteral("Kelvane"));
}

CKelvaneApp::~CKelvaneApp() = default;

void CKelvaneApp::SelectLanguage() {
    res::SetLanguage(res::SystemLanguage());
    InstallQtTranslation(res::CurrentLanguage());
}

int CKelvaneApp::InitInstance() {
    m_instance = new CSingleInstance(CSingleInstance::RuntimeFolder(), this);
    if (m_instance->ClaimOrRaise([this] { RaiseMainWindow(); })) return 0;
    SelectLanguage();

    CKelvaneDlg::Options options;
    options.interfaceName = m_options.interfaceName;
    options.allTasks = m_options.allTasks;
    options.dongleDevice = m_options.dongleDevice;
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
