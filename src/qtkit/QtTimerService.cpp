#include "QtTimerService.h"

namespace tw {

void QtTimerService::DoStart(int id, int periodMs) {
    auto& timer = timers_[id];
    if (!timer) {
        timer = std::make_unique<QTimer>();
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer.get(), &QTimer::timeout, this, [this, id] { Fire(id); });
    }
    timer->start(periodMs);  // restarts a running timer
}

void QtTimerService::Stop(int id) {
    auto it = timers_.find(id);
    if (it != timers_.end()) it->second->stop();
}

bool QtTimerService::IsRunning(int id) const {
    auto it = timers_.find(id);
    return it != timers_.end() && it->second->isActive();
}

int64_t QtTimerService::RemainingMs(int id) const {
    auto it = timers_.find(id);
    return it != timers_.end() && it->second->isActive() ? it->second->remainingTime() : -1;
}

void QtTimerService::PostTask(std::function<void()> task) {
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

}  // namespace tw
