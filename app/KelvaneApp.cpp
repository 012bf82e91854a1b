#include "app/KelvaneApp.h"

#include <QLocalServer>
#include <QLocalSocket>

#include "app/KelvaneDlg.h"
#include "app/QtTranslation.h"
#include "app/WizardJob.h"
#include "resources/strings/StringTable.h"

namespace {
constexpr int kConnectTimeoutMs = 500;
constexpr char kRaiseRequest = 'R';
}  // namespace

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
    if (RaiseRunningCopy()) return 0;
    ListenForOtherCopies();
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

bool CKelvaneApp::RaiseRunningCopy() {
    QLocalSocket socket;
    socket.connectToServer(QString::fromLatin1(kInstanceName));
    if (!socket.waitForConnected(kConnectTimeoutMs)) return false;
    socket.write(&kRaiseRequest, 1);
    socket.waitForBytesWritten(kConnectTimeoutMs);
    socket.disconnectFromServer();
    return true;
}

void CKelvaneApp::ListenForOtherCopies() {
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(QString::fromLatin1(kInstanceName))) {
        // Nobody answered above, so the name is left over from a copy that died.
        QLocalServer::removeServer(QString::fromLatin1(kInstanceName));
        m_server->listen(QString::fromLatin1(kInstanceName));
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                socket->readAll();
                RaiseMainWindow();
            });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
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
