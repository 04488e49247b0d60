#include "ManageAudioDlg.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "AddTracksDlg.h"
#include "Log.h"
#include "RecordVoiceDlg.h"
#include "ScheduleCoverage.h"
#include "ScheduleDlg.h"
#include "Skin.h"
#include "TrackList.h"
#include "WindowPlace.h"

namespace tw {
namespace {

// The box index for a stored value, or -1 (no selection) outside the box.
int IntervalIndex(bool isMusic, int seconds, int count) {
    const int index = isMusic ? seconds - 1 : seconds / 10 - 1;
    return index >= 0 && index < count ? index : -1;
}

}  // namespace

ManageAudioDlg::ManageAudioDlg(const AudioConfig& config, SoundDevice* device,
                               const DialogServices& services, QWidget* parent)
    : QDialog(parent),
      device_(device),
      given_(services),
      services_(services, this),
      editor_(std::make_unique<ListsEditor>(config)) {
    ApplySkin(this, kSkinDialog);
    setWindowTitle(tr("Manage Audio"));
    auto* voiceBox = new QGroupBox(tr("Voice Messages"), this);
    auto* musicBox = new QGroupBox(tr("Music Tracks"), this);
    voice_ = BuildSide(false, voiceBox);
    music_ = BuildSide(true, musicBox);
    ok_ = new QPushButton(tr("&OK"), this);
    ok_->setDefault(true);
    cancel_ = new QPushButton(tr("&Cancel"), this);
    // The two sides scroll when the screen (or the scale) leaves too little room;
    // OK and Cancel stay in sight below them.
    auto* page = new QWidget;
    auto* sides = new QHBoxLayout(page);
    sides->setContentsMargins(0, 0, 0, 0);
    sides->addWidget(voiceBox);
    sides->addWidget(musicBox);
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setWidget(page);
    scroll->setAccessibleName(tr("Voice messages and music tracks"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    buttons->addStretch();
    auto* top = new QVBoxLayout(this);
    top->addWidget(scroll, 1);
    top->addLayout(buttons);
    // Room for both sides at the font the desktop uses (a large font needs more
    // than 820 px); the screen bounds it, and the sides scroll beyond that.
    const QMargins m = top->contentsMargins();
    const QSize content = page->sizeHint();
    const QSize needs = QSize(content.width() + m.left() + m.right(),
                              content.height() + top->spacing() + buttons->sizeHint().height() +
                                  m.top() + m.bottom())
                            .expandedTo(QSize(820, 600));
    resize(needs);
    // A place saved smaller (at another scale, with a smaller font) is not kept.
    KeepPlace(this, QStringLiteral("manage-audio"), needs);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

    for (Side* side : {&music_, &voice_}) {
        Fill(*side);
        UpdateButtons(*side);
        const TrackList& list = ListOf(*side);
        QSignalBlocker a(side->interval), b(side->order);
        side->interval->setCurrentIndex(
            IntervalIndex(side->isMusic, list.gapSeconds, side->interval->count()));
        side->order->setCurrentIndex(list.random == 0 || list.random == 1 ? list.random : -1);
    }
    // The first list has the focus when the dialog opens, not OK (Enter still
    // presses OK, the default button).
    voice_.list->setFocus();
}

ManageAudioDlg::~ManageAudioDlg() = default;

ManageAudioDlg::Side ManageAudioDlg::BuildSide(bool isMusic, QWidget* box) {
    Side s;
    s.isMusic = isMusic;
    s.list = new QListWidget(box);
    s.list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    s.list->setSelectionBehavior(QAbstractItemView::SelectRows);
    s.list->setIconSize(QSize(16, 16));
    // Both sides have the same buttons: each gets a letter of its own in the
    // dialog (voice D E T S U W, and R for Record; music A L I H P N; OK, Cancel).
    s.add = new QPushButton(isMusic ? tr("&Add") : tr("A&dd"), box);
    s.remove = new QPushButton(isMusic ? tr("De&lete") : tr("D&elete"), box);
    s.clear = new QPushButton(isMusic ? tr("Clear L&ist") : tr("Clear Lis&t"), box);
    s.schedule = new QPushButton(isMusic ? tr("Sc&hedule") : tr("&Schedule"), box);
    s.up = new QPushButton(isMusic ? tr("U&p") : tr("&Up"), box);
    s.down = new QPushButton(isMusic ? tr("Dow&n") : tr("Do&wn"), box);
    s.interval = new QComboBox(box);
    s.order = new QComboBox(box);
    s.order->addItems({tr("In order"), tr("Random")});
    if (isMusic) {
        s.intervalLabel = new QLabel(tr("Time between songs:"), box);
        s.interval->addItem(tr("1 second"));
        for (int i = 2; i <= 10; ++i) s.interval->addItem(tr("%1 seconds").arg(i));
        // The music interval passes through unchanged: its box is never shown.
        s.intervalLabel->hide();
        s.interval->hide();
    } else {
        s.intervalLabel = new QLabel(tr("Time between voice messages:"), box);
        for (int i = 10; i <= 60; i += 10) s.interval->addItem(tr("%1 seconds").arg(i));
    }
    s.intervalLabel->setBuddy(s.interval);
    auto* orderLabel = new QLabel(tr("Track order:"), box);
    orderLabel->setBuddy(s.order);
    // A combo box would be named after its current value: named after its label.
    const QString sideName = isMusic ? tr("Music") : tr("Voice");
    s.interval->setAccessibleName(s.intervalLabel->text().chopped(1));
    s.order->setAccessibleName(sideName + " " + orderLabel->text().chopped(1).toLower());
    s.list->setAccessibleName(isMusic ? tr("Music tracks") : tr("Voice messages"));
    for (QPushButton* b : {s.add, s.remove, s.clear, s.schedule, s.up, s.down})
        b->setAutoDefault(false);

    auto* grid = new QGridLayout(box);
    auto* moves = new QVBoxLayout;
    moves->addStretch();
    moves->addWidget(s.up);
    moves->addWidget(s.down);
    moves->addStretch();
    grid->addWidget(s.list, 0, 0, 1, 3);
    grid->addLayout(moves, 0, 3);
    grid->addWidget(s.add, 1, 0);
    grid->addWidget(s.remove, 1, 1);
    grid->addWidget(s.clear, 1, 2);
    if (!isMusic) {
        record_ = new QPushButton(tr("&Record"), box);
        record_->setAutoDefault(false);
        grid->addWidget(record_, 2, 0);
        connect(record_, &QPushButton::clicked, this, [this] {
            RecordVoiceDlg recorder(device_, given_);
            recorder.exec();
        });
    }
    grid->addWidget(s.schedule, 2, 1);
    auto* settings = new QGridLayout;
    settings->addWidget(s.intervalLabel, 0, 0, Qt::AlignRight);
    settings->addWidget(s.interval, 0, 1);
    settings->addWidget(orderLabel, 1, 0, Qt::AlignRight);
    settings->addWidget(s.order, 1, 1);
    grid->addLayout(settings, 3, 0, 1, 4);
    // Under the list: the hours its schedules leave silent, seen before OK.
    s.coverage = new QLabel(box);
    s.coverage->setWordWrap(true);
    s.coverage->setTextFormat(Qt::PlainText);
    // A Tab stop, so that a screen reader reaches what the schedules leave silent.
    s.coverage->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    s.coverage->setFocusPolicy(Qt::StrongFocus);
    s.coverageName = isMusic ? tr("Music schedule coverage") : tr("Voice schedule coverage");
    grid->addWidget(s.coverage, 4, 0, 1, 4);

    // Connected by what each side is, so the handlers find its controls.
    const bool music = isMusic;
    auto side = [this, music]() -> const Side& { return music ? music_ : voice_; };
    connect(s.list, &QListWidget::itemSelectionChanged, this,
            [this, side] { UpdateButtons(side()); });
    connect(s.up, &QPushButton::clicked, this, [this, side] { Move(side(), -1); });
    connect(s.down, &QPushButton::clicked, this, [this, side] { Move(side(), +1); });
    connect(s.add, &QPushButton::clicked, this, [this, side] { Add(side()); });
    connect(s.remove, &QPushButton::clicked, this, [this, side] { Delete(side()); });
    connect(s.clear, &QPushButton::clicked, this, [this, side] { Clear(side()); });
    connect(s.schedule, &QPushButton::clicked, this, [this, side] { Schedule(side()); });
    connect(s.interval, &QComboBox::currentIndexChanged, this, [this, side](int index) {
        if (index < 0) return;
        editor_->SetGap(side().isMusic, side().isMusic ? index + 1 : index * 10 + 10);
        modified_ = true;  // the player must take the new interval too
    });
    connect(s.order, &QComboBox::currentIndexChanged, this, [this, side](int index) {
        if (index < 0) return;
        editor_->SetOrder(side().isMusic, index);
        modified_ = true;
    });
    return s;
}

// "Scheduled: 15 December-15 January, 09:00-17:00": what the clock beside a track
// means, for its tooltip and for screen readers.
static QString ScheduleText(const TrackSchedule& s) {
    QStringList parts;
    if (s.dateRangeOn) {
        auto day = [](const DateOrTime& d) {
            return DayText(LocalTime{2000, d.Second(), d.Third(), 0, 0, 0});
        };
        parts << QString::fromStdString(day(s.dateFrom) + "-" + day(s.dateTo));
    }
    if (s.timeRangeOn) {
        auto minute = [](const DateOrTime& t) { return MinuteText(t.First() * 60 + t.Second()); };
        parts << QString::fromStdString(minute(s.timeFrom) + "-" + minute(s.timeTo));
    }
    return QObject::tr("Scheduled: %1").arg(parts.join(QStringLiteral(", ")));
}

void ManageAudioDlg::Fill(const Side& side) {
    QSignalBlocker block(side.list);
    side.list->clear();
    static const QIcon clock(QStringLiteral(":/tonewell/clock.svg"));
    static const QIcon blank(QStringLiteral(":/tonewell/blank.svg"));
    for (const Track& t : ListOf(side).tracks) {
        const QString name = QString::fromStdString(ShownTrackName(t.name, side.isMusic));
        auto* item = new QListWidgetItem(t.schedule.HasAnyRange() ? clock : blank, name);
        if (t.schedule.HasAnyRange()) {
            const QString when = ScheduleText(t.schedule);
            item->setToolTip(when);
            item->setData(Qt::AccessibleTextRole, name + ", " + when);
        }
        side.list->addItem(item);
    }
    // Every change of a list passes here: the coverage of the year from today.
    const QString coverage =
        QString::fromStdString(editor_->CoverageText(side.isMusic, services_.clock().Now()));
    side.coverage->setText(coverage);
    // Read with its text, and heard again when it changes.
    side.coverage->setAccessibleName(side.coverageName + ": " + coverage);
}

std::vector<int> ManageAudioDlg::SelectedRows(const Side& side) const {
    std::vector<int> rows;
    for (int i = 0; i < side.list->count(); ++i)
        if (side.list->item(i)->isSelected()) rows.push_back(i);
    return rows;
}

void ManageAudioDlg::UpdateButtons(const Side& side) {
    const size_t selected = SelectedRows(side).size();
    side.up->setEnabled(selected == 1);
    side.down->setEnabled(selected == 1);
    side.remove->setEnabled(selected >= 1);
    side.schedule->setEnabled(selected >= 1);
}

void ManageAudioDlg::Move(const Side& side, int step) {
    const std::vector<int> rows = SelectedRows(side);
    if (rows.size() != 1) return;  // one row moves; the buttons say so
    const int row = rows.front();
    if (!editor_->Move(side.isMusic, row, step)) return;
    modified_ = true;
    Fill(side);
    side.list->setCurrentRow(row + step);
    side.list->setFocus();
    UpdateButtons(side);
}

void ManageAudioDlg::Add(const Side& side) {
    AddTracksDlg add(side.isMusic, editor_->config(), device_, given_, this);
    if (add.exec() == QDialog::Accepted) Fill(side);
    modified_ = true;  // as the dialog has always done, also when Add was cancelled
    UpdateButtons(side);
}

void ManageAudioDlg::Delete(const Side& side) {
    const std::vector<int> rows = SelectedRows(side);
    if (rows.empty()) return;
    // The rows are made again at once (taking them out one by one is slow).
    editor_->Remove(side.isMusic, rows);
    Fill(side);
    modified_ = true;
    UpdateButtons(side);
}

void ManageAudioDlg::Clear(const Side& side) {
    editor_->Clear(side.isMusic);
    Fill(side);
    modified_ = true;
    UpdateButtons(side);
}

void ManageAudioDlg::Schedule(const Side& side) {
    const std::vector<int> rows = SelectedRows(side);
    if (rows.empty()) return;
    std::vector<TrackSchedule*> schedules;
    for (int row : rows)
        schedules.push_back(&ListOf(side).tracks[static_cast<size_t>(row)].schedule);
    ScheduleDlg dialog(side.isMusic, schedules, given_, this);
    if (dialog.exec() == QDialog::Accepted) modified_ = true;
    // The clocks follow the schedules; the selection stays.
    Fill(side);
    for (int row : rows) side.list->item(row)->setSelected(true);
    UpdateButtons(side);
}

void ManageAudioDlg::accept() {
    // Lists as they were read, and still on disk: nothing to save, nothing for
    // the player to take.
    if (editor_->config().SaveText() == editor_->baseVersion() &&
        ListsEditor::CurrentVersion() == editor_->baseVersion()) {
        modified_ = false;
        QDialog::accept();
        return;
    }
    std::string why;
    switch (editor_->Save(why)) {
        case ListsEditor::Saved::Ok:
            QDialog::accept();
            return;
        case ListsEditor::Saved::Conflict:
            // Nothing is merged: the user sees the newer lists and edits those.
            services_.boxes().Show(why + ".", "Manage Audio", MbButtons::Ok, MbIcon::Exclamation);
            return;
        case ListsEditor::Saved::Failed:
            // The edits stay, so the user can free room and press OK again.
            services_.boxes().Show("Unable to save audio.cfg: " + why, "Error", MbButtons::Ok,
                                   MbIcon::Exclamation);
            return;
    }
}

}  // namespace tw
