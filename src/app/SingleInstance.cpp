#include "SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

InstanceLock::~InstanceLock() {
    ::close(fd_);  // the kernel lets go with the last descriptor
}

std::unique_ptr<InstanceLock> InstanceLock::Take(const std::string& path, bool& busy,
                                                 std::string& why) {
    busy = false;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        why = path + ": " + std::strerror(errno);
        return nullptr;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        busy = errno == EWOULDBLOCK;
        why = path + ": " + std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    // Ours now, whatever an earlier process left in it.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) < 0)
        Log("error - %s: %s", path.c_str(), std::strerror(errno));
    return std::make_unique<InstanceLock>(fd);
}

bool AcquireInstanceLock(std::unique_ptr<InstanceLock>& lock, bool perFolder) {
    bool busy = false;
    std::string why;
    if (perFolder) {
        // One player per working folder: several services, each with its own folder,
        // run side by side as one user. A folder where no lock can be made (read
        // only) falls back to the user's lock.
        lock = InstanceLock::Take("tonewell.lock", busy, why);
        if (lock) return true;
        if (busy) return false;
        Log("error - %s; the user's lock is used", why.c_str());
    }
    const std::string path =
        (RuntimeFolder() + QStringLiteral("/tonewell-%1.lock").arg(::getuid())).toStdString();
    lock = InstanceLock::Take(path, busy, why);
    if (!lock && !busy) Log("error - %s", why.c_str());
    return lock != nullptr;
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
