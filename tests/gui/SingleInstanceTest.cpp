// One wizard per user: the socket in the user's own runtime folder, talked to only by
// and with the same user, a stale one replaced, two copies started at once giving one
// window.
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "app/SingleInstance.h"

namespace {

constexpr uid_t kOtherUser = 65534;   // nobody

// A Unix socket file at path; listening when listen is set. The descriptor, or -1.
int UnixSocket(const QString& path, bool listen) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    std::memcpy(address.sun_path, name.constData(), std::min<std::size_t>(name.size(), sizeof address.sun_path - 1));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || (listen && ::listen(fd, 4) != 0)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

QString Folder(const QTemporaryDir& dir, const char* name, QFile::Permissions permissions) {
    const QString path = dir.filePath(QString::fromLatin1(name));
    QDir().mkpath(path);
    QFile::setPermissions(path, permissions);
    return path;
}

}  // namespace

class SingleInstanceTest : public QObject {
    Q_OBJECT
private slots:
    void secondCopyRaisesTheFirst();
    void staleSocketIsReplaced();
    void anotherUsersSocketIsNeverTalkedTo();
    void aConnectionFromAnotherUserIsClosedUnread();
    void runtimeFolder_data();
    void runtimeFolder();
    void twoCopiesStartedAtOnceGiveOneWindow();
};

void SingleInstanceTest::secondCopyRaisesTheFirst() {
    QTemporaryDir dir;
    int raised = 0;
    CSingleInstance first(dir.path());
    QVERIFY(!first.ClaimOrRaise([&] { ++raised; }));
    CSingleInstance second(dir.path());
    QVERIFY(second.ClaimOrRaise([] {}));
    QTRY_COMPARE(raised, 1);
}

// A copy that died left its socket file: nobody answers, so the next copy listens.
void SingleInstanceTest::staleSocketIsReplaced() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QString::fromLatin1(CSingleInstance::kInstanceName));
    const int dead = UnixSocket(path, false);
    QVERIFY(dead >= 0);
    ::close(dead);
    QVERIFY(QFileInfo::exists(path));
    CSingleInstance copy(dir.path());
    QVERIFY(!copy.ClaimOrRaise([] {}));
    QLocalSocket probe;
    probe.connectToServer(path);
    QVERIFY(probe.waitForConnected(1000));
}

// Another user's socket where ours belongs (root's, or one a folder's former owner
// left): never connected to; this copy listens in its place.
void SingleInstanceTest::anotherUsersSocketIsNeverTalkedTo() {
    if (::geteuid() != 0) QSKIP("needs root to make another user's socket");
    QTemporaryDir dir;
    const QString path = dir.filePath(QString::fromLatin1(CSingleInstance::kInstanceName));
    const int stranger = UnixSocket(path, true);
    QVERIFY(stranger >= 0);
    QCOMPARE(::chown(QFile::encodeName(path).constData(), kOtherUser, kOtherUser), 0);
    CSingleInstance copy(dir.path());
    QVERIFY(!copy.ClaimOrRaise([] {}));
    QCOMPARE(::accept(stranger, nullptr, nullptr), -1);   // nobody knocked
    QCOMPARE(errno, EAGAIN);
    ::close(stranger);
    struct stat info {};
    QCOMPARE(::lstat(QFile::encodeName(path).constData(), &info), 0);
    QCOMPARE(info.st_uid, ::geteuid());
}

// Another user who reaches the socket (a folder opened to others by mistake) cannot
// have the wizard's window raised: the connection is closed unread.
void SingleInstanceTest::aConnectionFromAnotherUserIsClosedUnread() {
    if (::geteuid() != 0) QSKIP("needs root to connect as another user");
    QTemporaryDir dir;
    QFile::setPermissions(dir.path(), QFile::Permissions(0x7755));
    int raised = 0;
    CSingleInstance first(dir.path());
    QVERIFY(!first.ClaimOrRaise([&] { ++raised; }));
    QVERIFY(::chmod(QFile::encodeName(first.SocketPath()).constData(), 0777) == 0);
    const QByteArray path = QFile::encodeName(first.SocketPath());
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(kOtherUser, kOtherUser, kOtherUser) != 0 ||
            ::setresuid(kOtherUser, kOtherUser, kOtherUser) != 0)
            ::_exit(2);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.constData(), std::min<std::size_t>(path.size(), sizeof address.sun_path - 1));
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) ::_exit(3);
        const char raise = 'R';
        ::_exit(::write(fd, &raise, 1) == 1 ? 0 : 4);
    }
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) QTest::qWait(10);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);   // it did connect and write
    QTest::qWait(300);
    QCOMPARE(raised, 0);
    CSingleInstance second(dir.path());   // the user's own second copy still gets through
    QVERIFY(second.ClaimOrRaise([] {}));
    QTRY_COMPARE(raised, 1);
}

void SingleInstanceTest::runtimeFolder_data() {
    QTest::addColumn<int>("runtimeMode");   // -1: XDG_RUNTIME_DIR unset
    QTest::addColumn<bool>("home");
    QTest::addColumn<QString>("expected");  // "runtime", "cache" or "" (none)
    QTest::newRow("own runtime folder") << 0700 << true << "runtime";
    QTest::newRow("runtime folder others may enter") << 0755 << true << "cache";
    QTest::newRow("runtime folder others may write") << 0733 << true << "cache";
    QTest::newRow("no runtime folder") << -1 << true << "cache";
    QTest::newRow("neither") << -1 << false << "";
}

void SingleInstanceTest::runtimeFolder() {
    QFETCH(int, runtimeMode);
    QFETCH(bool, home);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR"), savedHome = qgetenv("HOME");
    const QString runtime = dir.filePath(QStringLiteral("run"));
    QDir().mkpath(runtime);
    ::chmod(QFile::encodeName(runtime).constData(), static_cast<mode_t>(std::max(runtimeMode, 0)));
    if (runtimeMode >= 0) qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    else qunsetenv("XDG_RUNTIME_DIR");
    if (home) qputenv("HOME", QFile::encodeName(dir.path()));
    else qunsetenv("HOME");
    const QString got = CSingleInstance::RuntimeFolder();
    qputenv("XDG_RUNTIME_DIR", savedRuntime);
    qputenv("HOME", savedHome);
    const QString cache = dir.filePath(QStringLiteral(".cache/kelvane"));
    QCOMPARE(got, expected == QLatin1String("runtime") ? runtime : expected == QLatin1String("cache") ? cache : QString());
    if (expected == QLatin1String("cache")) QCOMPARE(QFileInfo(cache).permissions() & 0x0077, QFile::Permissions());
}

// The real program twice at the same moment, a few times over: one window each time,
// the other copy ends at once with 0.
void SingleInstanceTest::twoCopiesStartedAtOnceGiveOneWindow() {
    for (int round = 0; round < 3; ++round) {
        QTemporaryDir dir;
        const QString runtime = Folder(dir, "run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        QProcess copies[2];
        for (QProcess& copy : copies) {
            copy.setProcessEnvironment(environment);
            copy.setProgram(QStringLiteral(KELVANE_BIN_DIR "/kelvane"));
            copy.setArguments({QStringLiteral("--interface"), QStringLiteral("kvnone")});
        }
        for (QProcess& copy : copies) copy.start();
        for (QProcess& copy : copies) QVERIFY(copy.waitForStarted());
        // The second copy ends as soon as it has told the first.
        QTRY_VERIFY_WITH_TIMEOUT((copies[0].state() == QProcess::NotRunning) != (copies[1].state() == QProcess::NotRunning),
                                 10000);
        QTest::qWait(1000);   // and the first one stays
        int running = 0;
        for (QProcess& copy : copies) {
            if (copy.state() != QProcess::NotRunning) ++running;
            else QCOMPARE(copy.exitCode(), 0);
        }
        QCOMPARE(running, 1);
        for (QProcess& copy : copies) {
            copy.kill();
            copy.waitForFinished();
        }
    }
}

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "SingleInstanceTest.moc"
