#pragma once

// What a management dialog reaches the world through: its timers, its message
// boxes and the clock. A caller (a test) may hand its own; whatever it leaves
// null, the dialog makes for itself (Qt timers, Qt boxes owned by the dialog,
// the system clock).

#include <QWidget>
#include <memory>

#include "Clock.h"
#include "MessageBox.h"
#include "QtMessageBox.h"
#include "QtTimerService.h"
#include "TimerService.h"

namespace tw {

class Leveller;

struct DialogServices {
    TimerService* timers = nullptr;
    MessageBox* boxes = nullptr;
    const Clock* clock = nullptr;
    // The player's loudness levelling, for previews at the gain the track will
    // have on hold; null: previews play as the file is.
    Leveller* leveller = nullptr;
    // Previews play on the output callers hear (no other was chosen for them).
    bool previewOnLine = false;
};

// The services a dialog uses, its own where none were handed to it.
class OwnedServices {
  public:
    OwnedServices(const DialogServices& given, QWidget* owner)
        : ownBoxes_(owner),
          timers_(given.timers ? *given.timers : ownTimers_),
          boxes_(given.boxes ? *given.boxes : ownBoxes_),
          clock_(given.clock ? *given.clock : ownClock_),
          leveller_(given.leveller) {}
    TimerService& timers() { return timers_; }
    MessageBox& boxes() { return boxes_; }
    const Clock& clock() const { return clock_; }
    Leveller* leveller() const { return leveller_; }

  private:
    QtTimerService ownTimers_;
    QtMessageBox ownBoxes_;
    SystemClock ownClock_;
    TimerService& timers_;
    MessageBox& boxes_;
    const Clock& clock_;
    Leveller* leveller_;
};

}  // namespace tw
