#pragma once

#include <QLockFile>
#include <memory>

namespace tw {

// A per-user lock held for the life of the process, whether it plays or is paused.
// False when another Tonewell of this user holds it.
bool AcquireInstanceLock(std::unique_ptr<QLockFile>& lock);

}  // namespace tw
