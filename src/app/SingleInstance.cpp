#include "SingleInstance.h"

#include <unistd.h>

#include <QDir>

namespace tw {

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
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QDir(folder).exists()) folder = QDir::tempPath();
    const QString path = folder + QStringLiteral("/tonewell-%1.lock").arg(::getuid());
    lock = std::make_unique<QLockFile>(path);
    lock->setStaleLockTime(0);  // a lock left by a crashed Tonewell is taken over
    return lock->tryLock(0);
}

}  // namespace tw
