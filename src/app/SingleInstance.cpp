#include "SingleInstance.h"

#include <unistd.h>

#include <QDir>

namespace tw {

bool AcquireInstanceLock(std::unique_ptr<QLockFile>& lock) {
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QDir(folder).exists()) folder = QDir::tempPath();
    const QString path = folder + QStringLiteral("/tonewell-%1.lock").arg(::getuid());
    lock = std::make_unique<QLockFile>(path);
    lock->setStaleLockTime(0);  // a lock left by a crashed Tonewell is taken over
    return lock->tryLock(0);
}

}  // namespace tw
