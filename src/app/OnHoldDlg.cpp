#include "OnHoldDlg.h"

#include "RecordVoiceDlg.h"
#include "WindowPlace.h"

#include <cstring>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QSvgRenderer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>

#include "AboutDlg.h"
#include "ManageAudioDlg.h"
#include "RecordVoiceDlg.h"
#include "PageDlg.h"
#include "SettingsDlg.h"
#include "SoundDevice.h"
#include "Guid.h"
#include "Log.h"
#include "Skin.h"

namespace tw {
namespace {

QPixmap Picture(int width, int height) {
    QSvgRenderer svg(QStringLiteral(":/tonewell/product.svg"));
    QPixmap pixmap(width, height);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    svg.render(&painter);
    return pixmap;
}

QSlider* VolumeSlider(QWidget* parent) {
    auto* slider = new QSlider(Qt::Horizontal, parent);
    slider->setRange(0, 10);
    slider->setTickPosition(QSlider::TicksBelow);
    slider->setTickInterval(1);
    slider->setPageStep(1);
    return slider;
}

QProgressBar* ProgressBar(QWidget* parent) {
    auto* bar = new QProgressBar(parent);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    return bar;
}

}  // namespace

namespace {

// The main window is built on a dialog but is the program's window: screen readers
// are told so (a dialog is read as something to answer and close).
QAccessibleInterface* MainWindowAccessible(const QString&, QObject* object) {
    if (object && object->isWidgetType() && object->objectName() == QLatin1String(kSkinMainFrame))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    return nullptr;
}

}  // namespace

OnHoldDlg::OnHoldDlg(Options options)
    : ownBoxes_(this), boxes_(options.boxes ? *options.boxes : ownBoxes_), options_(options) {
    static const bool factory = [] {
        QAccessible::installFactory(MainWindowAccessible);
        return true;
    }();
    (void)factory;
    ApplySkin(this, kSkinMainFrame);
    setWindowTitle(kTitlePlaying);
    setWindowIcon(QIcon(QStringLiteral(":/tonewell/icon.svg")));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    OnHoldPlayer::Options playerOptions;
    playerOptions.output = options.output;
    playerOptions.sinks = options.sinks;
    playerOptions.backgroundPreload = true;
    player_ = std::make_unique<OnHoldPlayer>(clock_, timers_, boxes_, *this, playerOptions);
    BuildWindow();
    RestorePlace(this, QStringLiteral("main"));
    placeSaver_ = new QTimer(this);
    placeSaver_->setSingleShot(true);
    placeSaver_->setInterval(500);
    connect(placeSaver_, &QTimer::timeout, this, [this] {
        if (isVisible() && !isMinimized()) SavePlace(this, QStringLiteral("main"));
    });

    // Initialisation, before the window first shows.
    {
        QSignalBlocker a(musicVolume_), b(voiceVolume_);
        musicVolume_->setValue(player_->config().music.volume);
        voiceVolume_->setValue(player_->config().voice.volume);
    }
    // Signals were blocked: the value labels learn the values here.
    musicValue_->setNum(musicVolume_->value());
    voiceValue_->setNum(voiceVolume_->value());
    setFocus();
    player_->Initialise();
    if (options.web) web_ = StartWebConsole(*options.web, *player_, boxes_);
    if (options.startMinimized) QTimer::singleShot(0, this, [this] { MinimizeWindow(); });
}

OnHoldDlg::~OnHoldDlg() {
    if (tray_) tray_->hide();
    web_.reset();
    player_.reset();  // stops the timers and releases every sound
}

void OnHoldDlg::BuildWindow() {
    picture_ = new QLabel(this);
    picture_->setPixmap(Picture(320, 145));
    // The banner gives way on a small screen, and at a large scale keeps the size
    // it has at 1x on the screen (half its size at 2x), leaving the room to the
    // lists: down to half.
    picture_->setScaledContents(true);
    const qreal scale = std::clamp(devicePixelRatioF(), 1.0, 2.0);
    picture_->setMaximumSize(qRound(320 / scale), qRound(145 / scale));
    picture_->setMinimumSize(160, 72);
    picture_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    picture_->setAccessibleName(tr("Tonewell: music and messages on hold"));
    manage_ = new QPushButton(tr("Manage &Audio"), this);
    play_ = new QPushButton(tr("&Play"), this);
    pause_ = new QPushButton(tr("&Pause"), this);
    settings_ = new QPushButton(tr("&Settings"), this);
    for (QPushButton* b : {manage_, play_, pause_, settings_}) b->setAutoDefault(false);

    auto* left = new QVBoxLayout;
    left->addWidget(picture_);
    left->addSpacing(12);
    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {manage_, play_, pause_, settings_}) buttons->addWidget(b);
    auto* centred = new QHBoxLayout;
    centred->addStretch();
    centred->addLayout(buttons);
    centred->addStretch();
    left->addLayout(centred);
    left->addStretch();

    auto group = [this](const QString& title, QListWidget*& files, QProgressBar*& progress,
                        QSlider*& volume, QLabel*& value) {
        auto* box = new QGroupBox(title, this);
        auto* grid = new QGridLayout(box);
        files = new QListWidget(box);
        files->setSelectionMode(QAbstractItemView::SingleSelection);
        files->setMinimumHeight(48);
        files->setIconSize(QSize(16, 16));  // the mark of a track that did not load
        progress = ProgressBar(box);
        volume = VolumeSlider(box);
        // Each label names its control for screen readers, with the group's title.
        files->setAccessibleName(title + tr(" files"));
        progress->setAccessibleName(title + tr(" progress"));
        volume->setAccessibleName(title + tr(" volume"));
        grid->addWidget(new QLabel(tr("Files:"), box), 0, 0, Qt::AlignTop);
        grid->addWidget(files, 0, 1);
        grid->addWidget(new QLabel(tr("Progress:"), box), 1, 0);
        grid->addWidget(progress, 1, 1);
        grid->addWidget(new QLabel(tr("Volume:"), box), 2, 0);
        grid->addWidget(volume, 2, 1);
        // The slider's value, in words a screen reader reads too.
        value = new QLabel(QString::number(volume->value()), box);
        value->setMinimumWidth(value->fontMetrics().horizontalAdvance(QStringLiteral("10")));
        connect(volume, &QSlider::valueChanged, value, [value](int v) { value->setNum(v); });
        grid->addWidget(value, 2, 2);
        grid->setColumnStretch(1, 1);
        return box;
    };
    auto* right = new QVBoxLayout;
    right->addWidget(
        group(tr("Voice Messages"), voiceFiles_, voiceProgress_, voiceVolume_, voiceValue_));
    right->addWidget(
        group(tr("Music Tracks"), musicFiles_, musicProgress_, musicVolume_, musicValue_));

    // What plays, what comes next, or why nothing plays.
    status_ = new ElidedLabel(this);
    status_->setObjectName(QStringLiteral("status"));
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    status_->setFocusPolicy(Qt::TabFocus);
    right->addWidget(status_);

    auto* top = new QHBoxLayout(this);
    top->setMenuBar(BuildMenuBar());
    top->addLayout(left);
    top->addLayout(right, 1);
    resize(820, 480);

    connect(play_, &QPushButton::clicked, this, [this] { player_->TogglePlayback(); });
    connect(pause_, &QPushButton::clicked, this, [this] { player_->TogglePlayback(); });
    connect(settings_, &QPushButton::clicked, this, [this] { OpenSettings(); });
    connect(manage_, &QPushButton::clicked, this, [this] { OpenManageAudio(); });
    connect(musicVolume_, &QSlider::valueChanged, this,
            [this](int v) { player_->OnVolumeSlider(true, v); });
    connect(voiceVolume_, &QSlider::valueChanged, this,
            [this](int v) { player_->OnVolumeSlider(false, v); });
    // A click in a list chooses nothing: the selection goes back to what plays.

    // The same, on a right click (F1 is the menu bar's).
    auto* help = new QAction(tr("&Help"), this);
    connect(help, &QAction::triggered, this, [this] { OpenHelp(); });
    auto* playlist = new QAction(tr("Pri&nt Playlist..."), this);
    connect(playlist, &QAction::triggered, this, [this] { OpenPlaylist(); });
    auto* about = new QAction(tr("&About Tonewell..."), this);
    connect(about, &QAction::triggered, this, [this] { OpenAbout(); });
    addAction(help);
    addAction(playlist);
    addAction(about);
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

// Marks the row that plays (bold, and "playing" for a screen reader), apart from
// the selection and the focus, which the user moves freely.
static void MarkPlayingRow(QListWidget* list, int row) {
    for (int i = 0; i < list->count(); ++i) {
        QListWidgetItem* item = list->item(i);
        const bool playing = i == row;
        if (item->font().bold() == playing) continue;
        QFont font = item->font();
        font.setBold(playing);
        item->setFont(font);
        item->setData(Qt::AccessibleDescriptionRole, playing ? QObject::tr("playing") : QVariant());
    }
}

void OnHoldDlg::SelectMusicRow(int row) {
    MarkPlayingRow(musicFiles_, row);
}
void OnHoldDlg::SelectVoiceRow(int row) {
    MarkPlayingRow(voiceFiles_, row);
}

void OnHoldDlg::SetMusicProgress(int percent) {
    musicProgress_->setValue(percent);
}
void OnHoldDlg::SetVoiceProgress(int percent) {
    voiceProgress_->setValue(percent);
}
void OnHoldDlg::SetTitle(const std::string& title) {
    setWindowTitle(QString::fromStdString(title));
    UpdateTrayToolTip();
}

void OnHoldDlg::SetButtons(bool playEnabled, bool pauseEnabled) {
    play_->setEnabled(playEnabled);
    pause_->setEnabled(pauseEnabled);
    playAction_->setEnabled(playEnabled);
    pauseAction_->setEnabled(pauseEnabled);
    // The tray's item says what it will do.
    if (playPause_) playPause_->setText(pauseEnabled ? tr("&Pause") : tr("&Play"));
}

void OnHoldDlg::UpdateTrayToolTip() {
    if (!tray_) return;
    // What plays, not only the program's name: the tray is all there is to see.
    const QString status = status_->fullText();
    tray_->setToolTip(status.isEmpty() ? windowTitle() : windowTitle() + "\n" + status);
}

QMenuBar* OnHoldDlg::BuildMenuBar() {
    auto* bar = new QMenuBar(this);
    QMenu* file = bar->addMenu(tr("&File"));
    file->addAction(tr("&Manage Audio..."), this, [this] { OpenManageAudio(); });
    file->addAction(tr("&Record..."), this, [this] { OpenRecorder(); });
    file->addAction(tr("Pri&nt Playlist..."), this, [this] { OpenPlaylist(); });
    QAction* preferences = file->addAction(tr("Pr&eferences..."), this, [this] { OpenSettings(); });
    preferences->setShortcut(QKeySequence(tr("Ctrl+,")));
    file->addSeparator();
    QAction* quit = file->addAction(tr("&Quit"), this, [this] { close(); });
    quit->setShortcut(QKeySequence::Quit);
    QMenu* playback = bar->addMenu(tr("P&layback"));
    playAction_ = playback->addAction(tr("&Play"), this, [this] { player_->TogglePlayback(); });
    pauseAction_ = playback->addAction(tr("P&ause"), this, [this] { player_->TogglePlayback(); });
    QMenu* help = bar->addMenu(tr("&Help"));
    QAction* contents = help->addAction(tr("&Help"), this, [this] { OpenHelp(); });
    contents->setShortcut(QKeySequence::HelpContents);  // F1
    help->addAction(tr("&About Tonewell..."), this, [this] { OpenAbout(); });
    return bar;
}

void OnHoldDlg::SetFileLists(const std::vector<std::string>& voice,
                             const std::vector<std::string>& music) {
    auto fill = [](QListWidget* list, const std::vector<std::string>& rows) {
        QSignalBlocker block(list);
        list->clear();
        for (const auto& r : rows) list->addItem(QString::fromStdString(r));
    };
    fill(voiceFiles_, voice);
    fill(musicFiles_, music);
}

void OnHoldDlg::EnableManageAudio(bool enabled) {
    manage_->setEnabled(enabled);
}

void OnHoldDlg::SetStatus(const std::string& text) {
    // Its name is what plays and what is wrong; the countdown, which changes every
    // second, is in its description only.
    const QString full = QString::fromStdString(text);
    QStringList said = full.split(QStringLiteral("  \u00b7  "));
    said.removeIf([](const QString& part) { return part.startsWith(QStringLiteral("Next message in ")); });
    status_->setFullText(full, said.join(QStringLiteral("  \u00b7  ")));
    UpdateTrayToolTip();
}

void OnHoldDlg::MarkFailedTracks(const TrackProblems& voice, const TrackProblems& music) {
    const QIcon warning = style()->standardIcon(QStyle::SP_MessageBoxWarning);
    auto mark = [&warning](QListWidget* list, const TrackProblems& problems) {
        QSignalBlocker block(list);
        for (int row = 0; row < list->count(); ++row) {
            QListWidgetItem* item = list->item(row);
            const auto found = problems.find(item->text().toStdString());
            item->setIcon(found == problems.end() ? QIcon() : warning);
            // The mark's meaning as text too, for its tooltip and screen readers.
            const QString why = found == problems.end()
                                    ? QString()
                                    : tr("Could not load: %1").arg(QString::fromStdString(found->second));
            item->setToolTip(why);
            item->setData(Qt::AccessibleTextRole,
                          why.isEmpty() ? QVariant() : QVariant(item->text() + ", " + why));
        }
    };
    mark(voiceFiles_, voice);
    mark(musicFiles_, music);
}

void OnHoldDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->accept();  // Escape never closes the window
        return;
    }
    // Space plays and pauses, where the control with the focus has no use for it
    // (a button takes Space itself, a list moves its selection).
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        event->accept();
        player_->TogglePlayback();
        return;
    }
    QDialog::keyPressEvent(event);
}

void OnHoldDlg::reject() {
    close();
}

void OnHoldDlg::closeEvent(QCloseEvent* event) {
    if (player_->CloseNeedsConfirmation() &&
        boxes_.Show("Warning: Shutting down Tonewell will stop all music/voice playback.\nAre "
                    "you sure you want to do this?",
                    "Shutdown Tonewell", MbButtons::YesNo) != MbResult::Yes) {
        event->ignore();
        return;
    }
    event->accept();
    SavePlace(this, QStringLiteral("main"));
    done(QDialog::Rejected);
}

void OnHoldDlg::moveEvent(QMoveEvent* event) {
    QDialog::moveEvent(event);
    if (placeSaver_ && isVisible()) placeSaver_->start();
}

void OnHoldDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (placeSaver_ && isVisible()) placeSaver_->start();
}

void OnHoldDlg::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && !iconInTray_ &&
        player_->settings().trayIcon == 1 && QSystemTrayIcon::isSystemTrayAvailable())
        QTimer::singleShot(0, this, [this] { MinimizeWindow(); });
}

void OnHoldDlg::MinimizeWindow() {
    if (player_->settings().trayIcon == 1 && QSystemTrayIcon::isSystemTrayAvailable()) {
        SavePlace(this, QStringLiteral("main"));
        hide();
        SetTrayIcon(true);
    } else {
        showMinimized();
    }
}

void OnHoldDlg::RestoreFromTray() {
    RestorePlace(this, QStringLiteral("main"));  // where it was, not where a new window goes
    showNormal();
    raise();
    activateWindow();
    SetTrayIcon(false);
}

void OnHoldDlg::BringForward() {
    if (iconInTray_) {
        RestoreFromTray();
        return;
    }
    showNormal();
    raise();
    activateWindow();
}

void OnHoldDlg::SetTrayIcon(bool add) {
    if (!tray_) {
        tray_ = new QSystemTrayIcon(windowIcon(), this);
        tray_->setToolTip(QStringLiteral("Tonewell"));
        trayMenu_ = new QMenu(this);
        trayMenu_->addAction(tr("&Show"), this, [this] { RestoreFromTray(); });
        playPause_ = trayMenu_->addAction(pause_->isEnabled() ? tr("&Pause") : tr("&Play"), this,
                                          [this] { player_->TogglePlayback(); });
        trayMenu_->addAction(tr("&Help"), this, [this] { OpenHelp(); });
        trayMenu_->addAction(tr("Pri&nt Playlist..."), this, [this] { OpenPlaylist(); });
        trayMenu_->addAction(tr("&About Tonewell..."), this, [this] { OpenAbout(); });
        trayMenu_->addSeparator();
        trayMenu_->addAction(tr("&Quit"), this, [this] { close(); });
        tray_->setContextMenu(trayMenu_);
        connect(tray_, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason r) {
                    if (r == QSystemTrayIcon::Trigger || r == QSystemTrayIcon::DoubleClick)
                        RestoreFromTray();
                });
    }
    iconInTray_ = add;
    tray_->setVisible(add);
}

void OnHoldDlg::OpenManageAudio() {
    // Previews play where Settings says ("Preview on"), by default on the
    // desktop's default output; on the line only when that is where the player
    // plays, and then the dialog says that callers hear them.
    const QByteArray chosen = PreviewDevice();
    Guid preview{};
    if (chosen.size() == 16) std::memcpy(preview.data(), chosen.constData(), 16);
    std::unique_ptr<SoundDevice> own;
    SoundDevice* device = player_->device();
    const bool sameAsLine = preview == player_->settings().device;
    if (!sameAsLine &&
        SoundDevice::Create(IsNullGuid(preview) ? nullptr : &preview, OutputMode::Device, own) != 0) {
        Log("error - the preview output cannot be opened; previews play on the line");
        own.reset();
    }
    if (own) device = own.get();
    DialogServices services{options_.dialogTimers, options_.boxes, nullptr, &player_->leveller()};
    services.previewOnLine = !own && device;
    ManageAudioDlg dialog(player_->config(), device, services, this);
    if (dialog.exec() == QDialog::Accepted && dialog.modified()) player_->TakeSavedLists();
}

void OnHoldDlg::OpenRecorder() {
    RecordVoiceDlg recorder(
        player_->device(),
        DialogServices{options_.dialogTimers, options_.boxes, nullptr, &player_->leveller()}, this);
    recorder.exec();
}

void OnHoldDlg::OpenSettings() {
    SettingsDlg dialog(player_->settings());
    dialog.exec();
    player_->ReadLevellingSettings();  // the levelling box writes tonewell.conf
    if (!dialog.saveProblem().empty())
        player_->ReportSaveProblem("Tonewell could not save settings.cfg (" + dialog.saveProblem() +
                                   ").\nThe settings will be lost when it stops.");
    if (!dialog.levellingProblem().empty())
        player_->ReportSaveProblem("Tonewell could not save tonewell.conf (" +
                                   dialog.levellingProblem() +
                                   ").\nThe loudness setting will be lost when it stops.");
    if (!dialog.autostartProblem().empty())
        boxes_.Show("The autostart entry could not be changed (" + dialog.autostartProblem() +
                        ").\nThe settings were saved.",
                    "Tonewell");
    if (dialog.deviceChanged())
        boxes_.Show(
            "Switching to a new audio playback device will not take effect until you "
            "restart Tonewell.",
            "Change Audio Playback Device");
}

void OnHoldDlg::OpenHelp() {
    HelpDlg help(this);
    help.exec();
}

void OnHoldDlg::OpenPlaylist() {
    // Written just before, so the page shows the lists as they are now.
    if (!player_->config().ExportPlaylist())
        boxes_.Show("Unable to write playlist.xml in the working folder.", "Error");
    PlaylistDlg playlist(this);
    playlist.exec();
}

void OnHoldDlg::OpenAbout() {
    AboutDlg about;
    about.exec();
}

}  // namespace tw
