#pragma once

#include <QLockFile>
#include <memory>

namespace tw {

// A lock held for the life of the process, whether it plays or is paused: the
// user's (the window: one per desktop), or with `perFolder` the working folder's
// ("tonewell.lock"; a headless player: one per folder, so that several services
// run side by side). False when another Tonewell holds it.
bool AcquireInstanceLock(std::unique_ptr<QLockFile>& lock, bool perFolder = false);

}  // namespace tw
