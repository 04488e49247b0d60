#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLocale>
#include <QTest>
#include <QDateEdit>
#include <QPushButton>
#include <QTimeEdit>

#include "ScheduleDlg.h"

using namespace tw;

namespace {

class Schedule : public ::testing::Test {
  protected:
    // A locale that writes 12-hour times, whatever the machine's.
    void SetUp() override { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void TearDown() override { QLocale::setDefault(QLocale::c()); }
    TrackSchedule Plain() { return TrackSchedule::New(clock); }
    TrackSchedule Times(int fromHour, int toHour, int seconds = 0) {
        TrackSchedule s = Plain();
        s.timeRangeOn = true;
        s.timeFrom.Set(fromHour, 0, seconds);
        s.timeTo.Set(toHour, 0, seconds);
        return s;
    }
    TrackSchedule Dates(int year, int fromMonth, int toMonth) {
        TrackSchedule s = Plain();
        s.dateRangeOn = true;
        s.dateFrom.Set(year, fromMonth, 1);
        s.dateTo.Set(year, toMonth, 28);
        return s;
    }
    DialogServices Services() { return DialogServices{&timers, &boxes, &clock}; }

    VirtualClock clock{{2026, 12, 7, 14, 25, 41}};
    VirtualTimerService timers{clock};
    RecordingMessageBox boxes;
};

TEST_F(Schedule, OneTrackWithoutARangeGetsTodayWhenTheDateBoxIsChecked) {
    TrackSchedule s = Plain();
    ScheduleDlg dialog(true, {&s}, Services());
    EXPECT_EQ(dialog.windowTitle(), "Schedule Music Tracks");
    EXPECT_FALSE(dialog.mixed());
    EXPECT_FALSE(dialog.dateBox()->isChecked());
    EXPECT_FALSE(dialog.timeBox()->isChecked());
    for (QWidget* w : std::initializer_list<QWidget*>{dialog.dateFrom(), dialog.dateTo(),
                                                      dialog.timeFrom(), dialog.timeTo()})
        EXPECT_FALSE(w->isEnabled());
    EXPECT_EQ(dialog.dateFrom()->displayFormat(), "MMMM dd");
    EXPECT_EQ(dialog.timeFrom()->displayFormat(), "hh:mm AP");
    dialog.dateBox()->click();
    EXPECT_TRUE(dialog.dateFrom()->isEnabled());
    EXPECT_EQ(dialog.dateFrom()->date(), QDate(2026, 12, 7));
    EXPECT_EQ(dialog.timeFrom()->time(), QTime(14, 25, 0));  // not set: now, a whole minute
    dialog.okButton()->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(s.dateRangeOn);
    EXPECT_EQ(s.dateFrom, DateOrTime(2026, 12, 7));
    EXPECT_EQ(s.dateTo, DateOrTime(2026, 12, 7));
    EXPECT_FALSE(s.timeRangeOn);
    // Typed from the keyboard, digits and all.
    {
        ScheduleDlg typed(true, {&s}, Services());
        typed.show();
        typed.timeBox()->click();
        typed.timeFrom()->setFocus();
        QTest::keyClick(typed.timeFrom(), Qt::Key_Home);
        QTest::keyClicks(typed.timeFrom(), "0630");
        QTest::keyClick(typed.timeFrom(), Qt::Key_P);
        EXPECT_EQ(typed.timeFrom()->time(), QTime(18, 30, 0)) << typed.timeFrom()->text().toStdString();
    }
    // Where the locale writes 24-hour times, so do the time boxes.
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        ScheduleDlg german(true, {&s}, Services());
        EXPECT_EQ(german.timeFrom()->displayFormat(), "HH:mm");
        german.show();
        german.timeBox()->click();
        german.timeFrom()->setFocus();
        QTest::keyClick(german.timeFrom(), Qt::Key_Home);
        QTest::keyClicks(german.timeFrom(), "1830");
        EXPECT_EQ(german.timeFrom()->time(), QTime(18, 30, 0)) << german.timeFrom()->text().toStdString();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }
    // Times the user sets have no seconds, whatever the clock said.
    ScheduleDlg times(true, {&s}, Services());
    times.timeBox()->click();
    times.timeFrom()->setTime(QTime(9, 0, 0));
    times.timeTo()->setTime(QTime(17, 0, 0));
    times.accept();
    EXPECT_EQ(s.timeFrom, DateOrTime(9, 0, 0));
    EXPECT_EQ(s.timeTo, DateOrTime(17, 0, 0));
    timers.Advance(5000);
    EXPECT_TRUE(boxes.boxes().empty());  // no warning without a mixed selection
}

TEST_F(Schedule, ARangeAndAnUnscheduledTrackShareTheRangeAndSecondsSurvive) {
    TrackSchedule a = Times(9, 17, 30), b = Plain();
    ScheduleDlg dialog(false, {&b, &a}, Services());
    EXPECT_EQ(dialog.windowTitle(), "Schedule Voice Tracks");
    EXPECT_FALSE(dialog.mixed());
    EXPECT_TRUE(dialog.timeBox()->isChecked());
    EXPECT_EQ(dialog.timeFrom()->text(), "09:00 AM");
    EXPECT_EQ(dialog.timeTo()->text(), "05:00 PM");
    // The user moves the end to 6 PM: the picker keeps the hidden seconds, the
    // stored time does not.
    dialog.timeTo()->setTime(QTime(18, 0, 30));
    dialog.accept();
    for (const TrackSchedule* s : {&a, &b}) {
        EXPECT_TRUE(s->timeRangeOn);
        EXPECT_EQ(s->timeFrom, DateOrTime(9, 0, 30));  // untouched: the hidden seconds came back
        EXPECT_EQ(s->timeTo, DateOrTime(18, 0, 0));
        EXPECT_FALSE(s->dateRangeOn);
    }
}

TEST_F(Schedule, DifferentRangesWarnOnceAfterASecondAndCancelKeepsThem) {
    TrackSchedule a = Times(9, 12), b = Times(13, 17);
    {
        ScheduleDlg dialog(true, {&a, &b}, Services());
        EXPECT_TRUE(dialog.mixed());
        EXPECT_EQ(dialog.timeFrom()->time(), QTime(9, 0));  // the first one shows
        timers.Advance(999);
        EXPECT_TRUE(boxes.boxes().empty());
        timers.Advance(5000);
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(boxes.boxes()[0].text, ScheduleDlg::kMixedWarning);
        EXPECT_EQ(boxes.boxes()[0].caption, "Track Scheduling");
        dialog.cancelButton()->click();
    }
    EXPECT_EQ(a.timeFrom, DateOrTime(9, 0, 0));
    EXPECT_EQ(b.timeFrom, DateOrTime(13, 0, 0));
    // The same dates in another year count as different.
    TrackSchedule c = Dates(2025, 3, 4), d = Dates(2026, 3, 4);
    ScheduleDlg dates(true, {&c, &d}, Services());
    EXPECT_TRUE(dates.mixed());
    EXPECT_EQ(dates.dateFrom()->date(), QDate(2025, 3, 1));  // the year is kept, not shown
}

TEST_F(Schedule, UncheckingKeepsTheStoredDates) {
    TrackSchedule s = Dates(2024, 6, 8);
    {
        ScheduleDlg dialog(true, {&s}, Services());
        ASSERT_TRUE(dialog.dateBox()->isChecked());
        dialog.dateBox()->click();
        EXPECT_FALSE(dialog.dateFrom()->isEnabled());
        dialog.accept();
    }
    EXPECT_FALSE(s.dateRangeOn);
    EXPECT_EQ(s.dateFrom, DateOrTime(2024, 6, 1));
    EXPECT_EQ(s.dateTo, DateOrTime(2024, 8, 28));
    // Opened again, the track has no range: the pickers show today.
    ScheduleDlg again(true, {&s}, Services());
    EXPECT_EQ(again.dateFrom()->date(), QDate(2026, 12, 7));
}

}  // namespace
