#include "ScheduleDlg.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTimeEdit>
#include <QVBoxLayout>

#include "Skin.h"
#include "WindowPlace.h"

namespace tw {
namespace {

// A stored date or time that the calendar cannot show (a hand-edited file) is
// shown as today or now instead.
QDate ToDate(const DateOrTime& d, const QDate& fallback) {
    const QDate date(d.First(), d.Second(), d.Third());
    return date.isValid() ? date : fallback;
}

QTime ToTime(const DateOrTime& t, const QTime& fallback) {
    const QTime time(t.First(), t.Second(), t.Third());
    return time.isValid() ? time : fallback;
}

// A time box that takes typed digits after Home or End: those select the first or
// last part (hours, AM/PM) rather than put a cursor before it, where a digit would
// make no time and be dropped.
class TimeBox : public QTimeEdit {
  public:
    using QTimeEdit::QTimeEdit;

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->modifiers() == Qt::NoModifier && sectionCount() > 0) {
            if (event->key() == Qt::Key_Home) {
                setSelectedSection(sectionAt(0));
                return;
            }
            if (event->key() == Qt::Key_End) {
                setSelectedSection(sectionAt(sectionCount() - 1));
                return;
            }
        }
        QTimeEdit::keyPressEvent(event);
    }
};

// "From: [picker]   To: [picker]" under a check box, in a frame.
QGroupBox* RangeGroup(const QString& title, QCheckBox* box, QWidget* from, QWidget* to,
                      QWidget* parent) {
    auto* group = new QGroupBox(title, parent);
    auto* grid = new QGridLayout(group);
    grid->addWidget(box, 0, 0, 1, 4);
    auto* fromLabel = new QLabel(QObject::tr("From:"), group);
    fromLabel->setBuddy(from);
    auto* toLabel = new QLabel(QObject::tr("To:"), group);
    toLabel->setBuddy(to);
    grid->addWidget(fromLabel, 1, 0, Qt::AlignRight);
    grid->addWidget(from, 1, 1);
    grid->addWidget(toLabel, 1, 2, Qt::AlignRight);
    grid->addWidget(to, 1, 3);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    return group;
}

}  // namespace

ScheduleDlg::ScheduleDlg(bool isMusic, std::vector<TrackSchedule*> schedules,
                         const DialogServices& services, QWidget* parent)
    : QDialog(parent), services_(services, this), schedules_(std::move(schedules)) {
    ApplySkin(this, kSkinDialog);
    setWindowTitle(isMusic ? tr("Schedule Music Tracks") : tr("Schedule Voice Tracks"));

    const LocalTime now = services_.clock().Now();
    const QDate today(now.year, now.month, now.day);
    const QTime timeNow(now.hour, now.minute, 0);  // a time the user sets is a whole minute
    auto datePicker = [&] {
        auto* p = new QDateEdit(today, this);
        p->setCalendarPopup(true);
        p->setDisplayFormat(QStringLiteral("MMMM dd"));  // the year is kept, not shown
        p->setAlignment(Qt::AlignRight);
        return p;
    };
    const bool twelveHour =
        QLocale().timeFormat(QLocale::ShortFormat).contains(QLatin1String("AP"), Qt::CaseInsensitive);
    auto timePicker = [&] {
        auto* p = new TimeBox(timeNow, this);
        // 12-hour times where the user's locale writes them so, 24-hour elsewhere;
        // seconds are kept, not shown.
        p->setDisplayFormat(twelveHour ? QStringLiteral("hh:mm AP") : QStringLiteral("HH:mm"));
        p->setAlignment(Qt::AlignRight);
        return p;
    };
    dateBox_ = new QCheckBox(tr("Only play during the following &date range:"), this);
    timeBox_ = new QCheckBox(tr("Only play during the following &times:"), this);
    dateFrom_ = datePicker();
    dateTo_ = datePicker();
    timeFrom_ = timePicker();
    timeTo_ = timePicker();
    ok_ = new QPushButton(tr("&OK"), this);
    ok_->setDefault(true);
    cancel_ = new QPushButton(tr("&Cancel"), this);
    // Two "From:" and two "To:" labels: each picker says which it is.
    dateFrom_->setAccessibleName(tr("Date range from"));
    dateTo_->setAccessibleName(tr("Date range to"));
    timeFrom_->setAccessibleName(tr("Time range from"));
    timeTo_->setAccessibleName(tr("Time range to"));

    auto* ranges = new QVBoxLayout;
    ranges->addWidget(RangeGroup(tr("Date Range"), dateBox_, dateFrom_, dateTo_, this));
    ranges->addWidget(RangeGroup(tr("Time Range"), timeBox_, timeFrom_, timeTo_, this));
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    buttons->addStretch();
    auto* top = new QHBoxLayout(this);
    top->addLayout(ranges, 1);
    top->addLayout(buttons);

    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    connect(dateBox_, &QCheckBox::toggled, this, [this](bool on) {
        dateFrom_->setEnabled(on);
        dateTo_->setEnabled(on);
    });
    connect(timeBox_, &QCheckBox::toggled, this, [this](bool on) {
        timeFrom_->setEnabled(on);
        timeTo_->setEnabled(on);
    });

    // The first schedule with a range shows; a later one with a different range
    // makes the selection mixed. Tracks without a range never do.
    const TrackSchedule* reference = nullptr;
    for (const TrackSchedule* s : schedules_) {
        if (!s->HasAnyRange()) continue;
        if (!reference) {
            reference = s;
        } else if (!s->SameAs(*reference)) {
            mixed_ = true;
            break;
        }
    }
    services_.timers().SetHandler([this](int id) { OnTimer(id); });
    if (mixed_) services_.timers().Start(kWarningTimer, 1000);

    const bool dates = reference && reference->dateRangeOn;
    if (dates) {
        dateFrom_->setDate(ToDate(reference->dateFrom, today));
        dateTo_->setDate(ToDate(reference->dateTo, today));
    }
    dateBox_->setChecked(dates);
    dateFrom_->setEnabled(dates);
    dateTo_->setEnabled(dates);
    const bool times = reference && reference->timeRangeOn;
    if (times) {
        timeFrom_->setTime(ToTime(reference->timeFrom, timeNow));
        timeTo_->setTime(ToTime(reference->timeTo, timeNow));
    }
    timeBox_->setChecked(times);
    timeFrom_->setEnabled(times);
    timeTo_->setEnabled(times);
    shownFrom_ = timeFrom_->time();
    shownTo_ = timeTo_->time();
    KeepPlace(this, QStringLiteral("schedule"));
}

ScheduleDlg::~ScheduleDlg() {
    services_.timers().Stop(kWarningTimer);
    services_.timers().SetHandler(nullptr);
}

void ScheduleDlg::OnTimer(int id) {
    if (id != kWarningTimer) return;
    services_.timers().Stop(kWarningTimer);
    services_.boxes().Show(kMixedWarning, "Track Scheduling");
}

void ScheduleDlg::accept() {
    QDialog::accept();
    const QDate from = dateFrom_->date(), to = dateTo_->date();
    // A stored time left alone keeps its seconds; one the user changed has none
    // (the picker shows no seconds, so none can have been meant).
    auto set = [](const QTime& t, const QTime& shown) {
        return t == shown ? t : QTime(t.hour(), t.minute(), 0);
    };
    const QTime start = set(timeFrom_->time(), shownFrom_), end = set(timeTo_->time(), shownTo_);
    for (TrackSchedule* s : schedules_) {
        // An unchecked range only loses its flag: its stored values stay.
        s->dateRangeOn = dateBox_->isChecked();
        if (s->dateRangeOn) {
            s->dateFrom.Set(from.year(), from.month(), from.day());
            s->dateTo.Set(to.year(), to.month(), to.day());
        }
        s->timeRangeOn = timeBox_->isChecked();
        if (s->timeRangeOn) {
            s->timeFrom.Set(start.hour(), start.minute(), start.second());
            s->timeTo.Set(end.hour(), end.minute(), end.second());
        }
    }
}

}  // namespace tw
