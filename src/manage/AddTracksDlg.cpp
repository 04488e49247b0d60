#include "AddTracksDlg.h"

#include <algorithm>

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "Log.h"
#include "WindowPlace.h"
#include "Loudness.h"
#include "Skin.h"
#include "SoundImport.h"
#include "SoundsFolder.h"
#include "TrackList.h"

namespace tw {
namespace {

constexpr int kFileRole = Qt::UserRole;  // the row's file name, as bytes

const char* const kVoiceHelp =
    "You may add voice messages to your playlist here.  Select a category from the drop-down "
    "list and then select the messages you wish to add.  Click the speaker icons on the left to "
    "preview messages.";
const char* const kMusicHelp =
    "You may add music tracks to your playlist here.  Select a category from the drop-down list "
    "and then select the tracks you wish to add.  Click the speaker icons on the left to preview "
    "tracks.";

bool IsUtf8(const std::string& bytes) {
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())).toUtf8() ==
           QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QString Shown(const std::string& bytes) {
    return QFile::decodeName(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

}  // namespace

AddTracksDlg::AddTracksDlg(bool isMusic, AudioConfig& config, SoundDevice* device,
                           const DialogServices& services, QWidget* parent)
    : QDialog(parent),
      isMusic_(isMusic),
      config_(config),
      device_(device),
      services_(services, this),
      reader_(std::make_unique<MessageThread>()) {
    ApplySkin(this, kSkinDialog);
    setWindowTitle(isMusic ? tr("Add Music Tracks") : tr("Add Voice Messages"));
    help_ = new QLabel(tr(isMusic ? kMusicHelp : kVoiceHelp), this);
    help_->setWordWrap(true);
    categories_ = new QComboBox(this);
    auto* categoryLabel = new QLabel(tr("Category:"), this);
    categoryLabel->setBuddy(categories_);
    tracks_ = new QListWidget(this);
    tracks_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tracks_->setIconSize(QSize(16, 16));
    tracks_->viewport()->installEventFilter(this);
    selectAll_ = new QPushButton(tr("Select &All"), this);
    preview_ = new QPushButton(tr("Pre&view"), this);
    import_ = new QPushButton(tr("&Import..."), this);
    ok_ = new QPushButton(tr("&OK"), this);
    cancel_ = new QPushButton(tr("&Cancel"), this);
    for (QPushButton* b : {selectAll_, preview_, import_, ok_, cancel_}) b->setAutoDefault(false);
    ok_->setDefault(true);  // Enter on the list adds what is chosen
    tracks_->setAccessibleName(isMusic ? tr("Music tracks to add") : tr("Voice messages to add"));
    categories_->setAccessibleName(tr("Category"));

    auto* categoryRow = new QHBoxLayout;
    categoryRow->addWidget(categoryLabel);
    categoryRow->addWidget(categories_, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(selectAll_);
    buttons->addWidget(preview_);
    buttons->addWidget(import_);
    buttons->addStretch();
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    auto* top = new QVBoxLayout(this);
    top->addWidget(help_);
    top->addLayout(categoryRow);
    top->addWidget(tracks_, 1);
    top->addLayout(buttons);
    // Said before anyone previews: on the line, callers hear it too.
    if (services.previewOnLine && device) {
        onLine_ = new QLabel(tr("Previews play on the output callers hear: callers hear them too. "
                                "Choose another output under Settings, Preview on."),
                             this);
        onLine_->setWordWrap(true);
        top->addWidget(onLine_);
    }
    resize(460, 520);
    KeepPlace(this, QStringLiteral("add-tracks"));

    for (const std::string& c : ListCategories(isMusic))
        categories_->addItem(Shown(c), QByteArray::fromStdString(c));
    const int initial = InitialCategory(isMusic, ListCategories(isMusic));
    if (initial >= 0) categories_->setCurrentIndex(initial);
    FillTracks();

    connect(categories_, &QComboBox::currentIndexChanged, this, [this] {
        StopPreview();
        FillTracks();
    });
    connect(selectAll_, &QPushButton::clicked, tracks_, &QListWidget::selectAll);
    connect(preview_, &QPushButton::clicked, this,
            [this] { SpeakerClicked(tracks_->currentRow()); });
    connect(import_, &QPushButton::clicked, this, [this] {
        const QStringList paths = QFileDialog::getOpenFileNames(
            this, tr("Import"), QDir::homePath(), tr("Sounds (*.wav *.WAV *.mp3 *.MP3)"));
        if (!paths.isEmpty()) ImportFiles(paths);
    });
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    services_.timers().SetHandler([this](int id) { OnTimer(id); });
    services_.timers().Start(kPreviewTimer, 250);
}

AddTracksDlg::~AddTracksDlg() {
    services_.timers().Stop(kPreviewTimer);
    services_.timers().SetHandler(nullptr);
    reader_.reset();  // the reads asked for finish first; their results are dropped
    StopPreview();
}

std::string AddTracksDlg::RowFile(const QListWidgetItem* item) {
    return item->data(kFileRole).toByteArray().toStdString();
}

bool AddTracksDlg::InList(const std::string& stored) const {
    const TrackList& list = isMusic_ ? config_.music : config_.voice;
    return std::any_of(list.tracks.begin(), list.tracks.end(),
                       [&stored](const Track& t) { return t.name == stored; });
}

void AddTracksDlg::ImportFiles(const QStringList& paths) {
    const std::string category = categories_->currentData().toByteArray().toStdString();
    if (category.empty()) return;
    std::vector<std::string> added;
    for (const QString& path : paths) {
        std::string stored, why;
        switch (ImportSound(QFile::encodeName(path).toStdString(), isMusic_, category, stored, why)) {
            case Imported::Ok:
                added.push_back(stored);
                break;
            case Imported::NotASound:
                services_.boxes().Show(why, "Error");
                break;
            case Imported::Exists:
                services_.boxes().Show(
                    tr("%1 is in this category already.").arg(path).toStdString(), "Error");
                break;
            case Imported::Failed:
                services_.boxes().Show(
                    tr("%1 could not be copied (%2).").arg(path, QString::fromStdString(why))
                        .toStdString(),
                    "Error");
                break;
        }
    }
    StopPreview();
    FillTracks();
    // What came in is chosen, ready for OK.
    for (int row = 0; row < tracks_->count(); ++row) {
        QListWidgetItem* item = tracks_->item(row);
        const std::string stored = StoredTrackName(isMusic_, category, RowFile(item));
        if (std::find(added.begin(), added.end(), stored) != added.end()) item->setSelected(true);
    }
}

void AddTracksDlg::FillTracks() {
    tracks_->clear();
    const QIcon speaker = style()->standardIcon(QStyle::SP_MediaVolume);
    const std::string category = categories_->currentData().toByteArray().toStdString();
    const std::vector<std::string> files =
        categories_->count() ? ListTracks(isMusic_, category) : std::vector<std::string>{};
    for (const std::string& file : files) {
        auto* item = new QListWidgetItem(speaker, Shown(file), tracks_);
        item->setData(kFileRole, QByteArray::fromStdString(file));
        // Shown, but not to be chosen: a stored name must fit and be text.
        QString why;
        if (StoredTrackName(isMusic_, category, file).size() > kMaxNameLength)
            why = tr("The name is too long to be stored in the list (over %1 characters).")
                      .arg(kMaxNameLength);
        else if (!IsUtf8(file) || !IsUtf8(category))
            why = tr("The name is not valid UTF-8 and cannot be stored in the list.");
        if (!why.isEmpty()) {
            item->setFlags(item->flags() & ~(Qt::ItemIsEnabled | Qt::ItemIsSelectable));
            item->setToolTip(why);
        } else if (InList(StoredTrackName(isMusic_, category, file))) {
            // It may be added again (a track may play twice a pass), but not unknowingly.
            item->setText(item->text() + tr("  (already in the list)"));
            item->setToolTip(tr("This track is in the list already."));
        }
    }
    const bool any = !files.empty();
    if (!any) tracks_->addItem(tr(kNoTracks));
    tracks_->setEnabled(any);
    selectAll_->setEnabled(any);
    preview_->setEnabled(any);
}

bool AddTracksDlg::eventFilter(QObject* watched, QEvent* event) {
    // A click on a row's speaker (its icon, at the start of the row) previews it;
    // the selection is left as it was.
    if (watched == tracks_->viewport() && event->type() == QEvent::MouseButtonPress) {
        const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
        QListWidgetItem* item = tracks_->itemAt(at);
        if (item &&
            at.x() < tracks_->visualItemRect(item).left() + tracks_->iconSize().width() + 6) {
            SpeakerClicked(tracks_->row(item));
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void AddTracksDlg::SpeakerClicked(int row) {
    const int wasPlaying = playingRow_;
    StopPreview();
    tracks_->setFocus();
    if (row == wasPlaying) return;  // the playing row's speaker only stops it
    QListWidgetItem* item = tracks_->item(row);
    if (!item || !(item->flags() & Qt::ItemIsEnabled) || !tracks_->isEnabled()) return;
    const std::string file = RowFile(item);
    previewPath_ =
        StoredTrackName(isMusic_, categories_->currentData().toByteArray().toStdString(), file);
    playingRow_ = row;
    item->setText(QString::fromUtf8(kPlayingPrefix) + Shown(file));
    loading_ = true;
    const uint64_t ticket = ++ticket_;
    TimerService* timers = &services_.timers();
    const int rate = device_ ? device_->mixer().outputRate() : 0;
    reader_->PostTask([path = previewPath_, ticket, owner = std::weak_ptr<const char>(lifetime_),
                       timers, leveller = services_.leveller(), isMusic = isMusic_, rate, this] {
        LoadedSound sound;
        // Levelled as the track will be on hold: measured first when the cache does
        // not know it (one pass over the file, a block at a time).
        if (ReadSound(path, sound, {rate}) && leveller) sound.trim = leveller->GainFor(path, isMusic);
        timers->PostTaskWhileAlive(owner, [ticket, sound, this] { PreviewRead(ticket, sound); });
    });
}

void AddTracksDlg::PreviewRead(uint64_t ticket, const LoadedSound& sound) {
    if (ticket != ticket_ || !loading_) return;  // stopped meanwhile
    loading_ = false;
    if (sound.stream && device_) {
        MakeSoundBuffer(sound, previewPath_, *device_, buffer_, services_.boxes());
        if (buffer_) {
            // At the level a new buffer has, whatever the main window's sliders say,
            // levelled as the track will be on hold.
            buffer_->SetTrim(sound.trim);
            buffer_->Play();
            started_ = false;
            return;
        }
    } else if (!sound.stream) {
        services_.boxes().Show(sound.error, "Error");
    }
    // Nothing plays: the row gets its name back at once.
    Log("error - preview of %s did not load", previewPath_.c_str());
    StopPreview();
}

void AddTracksDlg::StopPreview() {
    loading_ = false;
    ++ticket_;
    if (buffer_) buffer_->Stop();
    buffer_.reset();
    if (QListWidgetItem* item = tracks_->item(playingRow_)) item->setText(Shown(RowFile(item)));
    playingRow_ = -1;
    started_ = false;
}

void AddTracksDlg::OnTimer(int id) {
    if (id != kPreviewTimer || !buffer_) return;
    if (buffer_->Position() != 0) {
        started_ = true;
        return;
    }
    // Back at its start after playing, or played to its end between two ticks.
    if (started_ || buffer_->HasFinished()) StopPreview();
}

void AddTracksDlg::accept() {
    StopPreview();
    TrackList& list = isMusic_ ? config_.music : config_.voice;
    const std::string category = categories_->currentData().toByteArray().toStdString();
    // What was selected, and only that: a row that merely has the focus is not
    // chosen.
    for (int row = 0; row < tracks_->count(); ++row) {
        const QListWidgetItem* item = tracks_->item(row);
        if (!item->isSelected() || !(item->flags() & Qt::ItemIsEnabled) || !tracks_->isEnabled()) continue;
        const std::string name = StoredTrackName(isMusic_, category, RowFile(item));
        // A track may play twice a pass, but is not listed twice unknowingly.
        if (InList(name) &&
            services_.boxes().Show(tr("%1 is in the list already. Add it again?")
                                       .arg(QString::fromStdString(ShownTrackName(name, isMusic_)))
                                       .toStdString(),
                                   "Add Tracks", MbButtons::YesNo) != MbResult::Yes)
            continue;
        if (HasControlCharacter(name)) {
            services_.boxes().Show(tr("%1 has a control character in its name and cannot be listed; "
                                      "rename the file.")
                                       .arg(QString::fromStdString(ShownTrackName(name, isMusic_)))
                                       .toStdString(),
                                   "Error");
            continue;
        }
        // A file that cannot play (empty, not a sound) is refused here, with the
        // loader's words, not found out later on hold.
        LoadedSound sound;
        if (!ReadSound(name, sound)) {
            services_.boxes().Show(sound.error, "Error");
            continue;
        }
        if (name.size() <= kMaxNameLength) list.AddTrack(name, TrackSchedule::New(list.clock()));
    }
    QDialog::accept();
}

void AddTracksDlg::reject() {
    StopPreview();
    QDialog::reject();
}

}  // namespace tw
