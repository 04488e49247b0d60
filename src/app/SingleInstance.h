#pragma once

#include <QLockFile>
#include <functional>
#include <memory>

class QLocalServer;

namespace tw {

// A lock held for the life of the process, whether it plays or is paused: the
// user's (the window: one per desktop), or with `perFolder` the working folder's
// ("tonewell.lock"; a headless player: one per folder, so that several services
// run side by side). False when another Tonewell holds it.
bool AcquireInstanceLock(std::unique_ptr<QLockFile>& lock, bool perFolder = false);

// The running window's door, beside the user's lock: a second start knocks, the
// window comes forward, and the second start ends. Main thread.
// Listens for knocks (the lock is held, so any socket left there is stale);
// `show` runs on each. The server lives as a child of `parent`.
QLocalServer* ListenForSecondStarts(QObject* parent, std::function<void()> show);
// Knocks: true once the running window said it came forward (within 2 seconds).
bool AskRunningWindowForward();

}  // namespace tw
