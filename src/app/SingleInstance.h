#pragma once

#include <functional>
#include <memory>
#include <string>

class QObject;
class QLocalServer;

namespace tw {

// A kernel lock (flock) on a file, held while the object lives and released by
// the kernel however the process ends: what the file says (an empty, garbled or
// stale one from a crash) never keeps a start out. The file holds this process's
// id for whoever looks.
class InstanceLock {
  public:
    explicit InstanceLock(int fd) : fd_(fd) {}
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // The lock on `path`: nullptr when another process holds it (`busy`), or when
    // the file cannot be made (`busy` false, `why` set).
    static std::unique_ptr<InstanceLock> Take(const std::string& path, bool& busy,
                                              std::string& why);

  private:
    int fd_;
};

// A lock held for the life of the process, whether it plays or is paused: the
// user's (the window: one per desktop), or with `perFolder` the working folder's
// ("tonewell.lock"; a headless player: one per folder, so that several services
// run side by side). False when another Tonewell holds it.
bool AcquireInstanceLock(std::unique_ptr<InstanceLock>& lock, bool perFolder = false);

// The running window's door, beside the user's lock: a second start knocks, the
// window comes forward, and the second start ends. Main thread.
// Listens for knocks (the lock is held, so any socket left there is stale);
// `show` runs on each. The server lives as a child of `parent`.
QLocalServer* ListenForSecondStarts(QObject* parent, std::function<void()> show);
// Knocks: true once the running window said it came forward (within 2 seconds).
bool AskRunningWindowForward();

}  // namespace tw
