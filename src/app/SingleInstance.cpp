#include "SingleInstance.h"

#include <unistd.h>

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

#include "Log.h"

namespace tw {
namespace {

QString RuntimeFolder() {
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QDir(folder).exists()) folder = QDir::tempPath();
    return folder;
}

QString DoorPath() {
    return RuntimeFolder() + QStringLiteral("/tonewell-%1.socket").arg(::getuid());
}

}  // namespace

bool AcquireInstanceLock(std::unique_ptr<QLockFile>& lock, bool perFolder) {
    if (perFolder) {
        // One player per working folder: several services, each with its own folder,
        // run side by side as one user. A folder where no lock can be made (read
        // only) falls back to the user's lock.
        lock = std::make_unique<QLockFile>(QStringLiteral("tonewell.lock"));
        lock->setStaleLockTime(0);
        if (lock->tryLock(0)) return true;
        if (lock->error() == QLockFile::LockFailedError) return false;
    }
    const QString path = RuntimeFolder() + QStringLiteral("/tonewell-%1.lock").arg(::getuid());
    lock = std::make_unique<QLockFile>(path);
    lock->setStaleLockTime(0);  // a lock left by a crashed Tonewell is taken over
    return lock->tryLock(0);
}

QLocalServer* ListenForSecondStarts(QObject* parent, std::function<void()> show) {
    auto* server = new QLocalServer(parent);
    server->setSocketOptions(QLocalServer::UserAccessOption);  // this user's starts only
    QLocalServer::removeServer(DoorPath());
    if (!server->listen(DoorPath())) {
        Log("error - a second start cannot bring this window forward (%s)",
            server->errorString().toUtf8().constData());
        return server;
    }
    QObject::connect(server, &QLocalServer::newConnection, server, [server, show] {
        while (QLocalSocket* knock = server->nextPendingConnection()) {
            QObject::connect(knock, &QLocalSocket::disconnected, knock, &QObject::deleteLater);
            // Whatever it says (a few bytes at most): come forward, and say so.
            QObject::connect(knock, &QLocalSocket::readyRead, knock, [knock, show] {
                knock->readAll();
                show();
                knock->write("shown\n");
                knock->flush();
                knock->disconnectFromServer();
            });
        }
    });
    return server;
}

bool AskRunningWindowForward() {
    QLocalSocket knock;
    knock.connectToServer(DoorPath());
    if (!knock.waitForConnected(2000)) return false;
    knock.write("show\n");
    if (!knock.waitForBytesWritten(2000)) return false;
    while (knock.bytesAvailable() < 6 && knock.waitForReadyRead(2000)) {
    }
    return knock.readAll().startsWith("shown");
}

}  // namespace tw
