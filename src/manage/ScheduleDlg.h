#pragma once

// "Schedule Audio Tracks": restricts the selected tracks of one list to a range of
// days of the year and/or a range of times of day. OK writes one schedule into
// every schedule handed to it; Cancel changes nothing. Main thread.

#include <QDialog>
#include <QTime>
#include <vector>

#include "DialogServices.h"
#include "TrackSchedule.h"

class QCheckBox;
class QDateEdit;
class QTimeEdit;
class QPushButton;

namespace tw {

class ScheduleDlg : public QDialog {
  public:
    static constexpr int kWarningTimer = 1;
    static constexpr const char* kMixedWarning =
        "You've selected multiple audio tracks with different schedules.  Setting a schedule "
        "here and clicking OK will set the same schedule on all of them.  Otherwise, click "
        "Cancel to keep the current settings.";

    // `schedules`: the selected tracks' schedules (at least one), not owned.
    ScheduleDlg(bool isMusic, std::vector<TrackSchedule*> schedules,
                const DialogServices& services = {}, QWidget* parent = nullptr);
    ~ScheduleDlg() override;

    // Whether the selection holds different ranges (the warning is then due).
    bool mixed() const { return mixed_; }
    QCheckBox* dateBox() const { return dateBox_; }
    QCheckBox* timeBox() const { return timeBox_; }
    QDateEdit* dateFrom() const { return dateFrom_; }
    QDateEdit* dateTo() const { return dateTo_; }
    QTimeEdit* timeFrom() const { return timeFrom_; }
    QTimeEdit* timeTo() const { return timeTo_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }

    void accept() override;

  private:
    void OnTimer(int id);

    OwnedServices services_;
    std::vector<TrackSchedule*> schedules_;
    bool mixed_ = false;
    QCheckBox* dateBox_;
    QCheckBox* timeBox_;
    QDateEdit* dateFrom_;
    QDateEdit* dateTo_;
    QTimeEdit* timeFrom_;
    QTimeEdit* timeTo_;
    QTime shownFrom_, shownTo_;  // the times as the dialog opened
    QPushButton* ok_;
    QPushButton* cancel_;
};

}  // namespace tw
