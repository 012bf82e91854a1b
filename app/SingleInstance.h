// One copy of the wizard per user. The first copy listens on a local socket named after
// the system's window class, "JOXFWMWCLASS", in the user's own runtime folder
// ($XDG_RUNTIME_DIR, else ~/.cache/kelvane made 0700); a second copy asks it to raise
// its window and ends.
//
// Both sides talk only to a process of the same user (SO_PEERCRED): another user's
// socket in the folder is never connected to, and a connection from another user is
// closed unread. A socket left by a copy that died is replaced. Two copies started at
// once decide under a lock file beside the socket, so exactly one of them listens.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QLocalServer;

class CSingleInstance : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kInstanceName = "JOXFWMWCLASS";

    // folder: where the socket lives; empty: no single-instance check at all.
    explicit CSingleInstance(QString folder, QObject* parent = nullptr);
    ~CSingleInstance() override;

    // The user's runtime folder for the socket, checked to be the user's own and closed
    // to others; the fallback ~/.cache/kelvane is made so. Empty when neither is usable.
    static QString RuntimeFolder();

    // True when another copy of this user runs: it has been asked to raise its window.
    // Otherwise this object listens, and onRaise is called for each later copy.
    bool ClaimOrRaise(std::function<void()> onRaise);

    QString SocketPath() const;

    // The process on the other end of a connected local socket runs as this user.
    static bool PeerIsSameUser(int fd);

private:
    bool RaiseRunningCopy();
    void Listen();

    QString m_folder;
    QLocalServer* m_server = nullptr;
    std::function<void()> m_onRaise;
};
