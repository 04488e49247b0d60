#pragma once

// Window timers on QTimer, one per id; ticks arrive on the thread that owns it
// (the main thread) and keep coming while a modal dialog or box is open.

#include <QObject>
#include <QTimer>
#include <map>
#include <memory>

#include "TimerService.h"

namespace tw {

class QtTimerService : public QObject, public TimerService {
  public:
    void Stop(int id) override;
    bool IsRunning(int id) const override;
    int64_t RemainingMs(int id) const override;
    // Queued to this object's thread; dropped if the service is gone by then.
    void PostTask(std::function<void()> task) override;

  protected:
    void DoStart(int id, int periodMs) override;

  private:
    std::map<int, std::unique_ptr<QTimer>> timers_;
};

}  // namespace tw
