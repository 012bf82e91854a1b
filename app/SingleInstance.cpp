#include "app/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>

namespace {

constexpr int kConnectTimeoutMs = 500;
constexpr char kRaiseRequest = 'R';

// A folder of this user that nobody else may enter or write.
bool PrivateFolder(const QByteArray& path) {
    struct stat info {};
    return ::lstat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
           (info.st_mode & 077) == 0;
}

// Held while a copy decides whether it is the first, so that two copies started at once
// never both listen.
class DecisionLock {
public:
    explicit DecisionLock(const QString& path) {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (m_fd >= 0) ::flock(m_fd, LOCK_EX);
    }
    ~DecisionLock() {
        if (m_fd >= 0) ::close(m_fd);
    }
    DecisionLock(const DecisionLock&) = delete;
    DecisionLock& operator=(const DecisionLock&) = delete;

private:
    int m_fd = -1;
};

}  // namespace

CSingleInstance::CSingleInstance(QString folder, QObject* parent) : QObject(parent), m_folder(std::move(folder)) {}

CSingleInstance::~CSingleInstance() = default;

QString CSingleInstance::RuntimeFolder() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && runtime.startsWith('/') && PrivateFolder(runtime)) return QFile::decodeName(runtime);
    QByteArray home = qgetenv("HOME");
    if (home.isEmpty() || !home.startsWith('/')) return {};
    const QByteArray cache = home + "/.cache";
    const QByteArray folder = cache + "/kelvane";
    QDir().mkpath(QFile::decodeName(cache));
    ::mkdir(folder.constData(), 0700);
    return PrivateFolder(folder) ? QFile::decodeName(folder) : QString();
}

QString CSingleInstance::SocketPath() const {
    return m_folder.isEmpty() ? QString() : m_folder + QLatin1Char('/') + QLatin1String(kInstanceName);
}

bool CSingleInstance::PeerIsSameUser(int fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && size == sizeof peer &&
           peer.uid == ::geteuid();
}

bool CSingleInstance::ClaimOrRaise(std::function<void()> onRaise) {
    if (m_folder.isEmpty()) return false;
    m_onRaise = std::move(onRaise);
    const DecisionLock lock(SocketPath() + QStringLiteral(".lock"));
    if (RaiseRunningCopy()) return true;
    Listen();
    return false;
}

bool CSingleInstance::RaiseRunningCopy() {
    // Another user's socket (root's, say) is no copy of ours: never connected to.
    struct stat info {};
    const QByteArray path = QFile::encodeName(SocketPath());
    if (::lstat(path.constData(), &info) != 0 || !S_ISSOCK(info.st_mode) || info.st_uid != ::geteuid()) return false;
    QLocalSocket socket;
    socket.connectToServer(SocketPath());
    if (!socket.waitForConnected(kConnectTimeoutMs)) return false;
    if (!PeerIsSameUser(static_cast<int>(socket.socketDescriptor()))) return false;
    socket.write(&kRaiseRequest, 1);
    socket.waitForBytesWritten(kConnectTimeoutMs);
    socket.disconnectFromServer();
    return true;
}

void CSingleInstance::Listen() {
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // Nobody of ours answered: whatever has the name is left over from a copy that
    // died, or is not ours. (Under the lock, no copy starting now can be listening.)
    QLocalServer::removeServer(SocketPath());
    if (!m_server->listen(SocketPath())) return;   // runs on without the check
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            if (!PeerIsSameUser(static_cast<int>(socket->socketDescriptor()))) {
                socket->abort();
                socket->deleteLater();
                continue;
            }
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                socket->readAll();
                if (m_onRaise) m_onRaise();
            });
        }
    });
}
