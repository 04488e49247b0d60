#include "SettingsDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstring>
#include <filesystem>

#include "Autostart.h"
#include "Outputs.h"
#include "Skin.h"
#include "TonewellConf.h"
#include "WindowPlace.h"

namespace tw {

SettingsDlg::SettingsDlg(AppSettings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings) {
    ApplySkin(this, kSkinDialog);
    setWindowTitle(tr("Settings"));
    autoStart_ = new QCheckBox(tr("Start Tonewell &automatically when I log in"), this);
    startPlaying_ = new QCheckBox(tr("Start &playing audio when Tonewell starts"), this);
    trayIcon_ = new QCheckBox(tr("Show &icon in tray when minimized"), this);
    levelling_ = new QCheckBox(tr("&Even out loudness between tracks"), this);
    devices_ = new QComboBox(this);
    previews_ = new QComboBox(this);
    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons_->button(QDialogButtonBox::Ok)->setText(tr("&OK"));
    buttons_->button(QDialogButtonBox::Cancel)->setText(tr("&Cancel"));

    auto* layout = new QVBoxLayout(this);
    for (QCheckBox* box : {autoStart_, startPlaying_, trayIcon_, levelling_})
        layout->addWidget(box);
    layout->addSpacing(8);
    auto* deviceLabel = new QLabel(tr("Audio &device used for playback:"), this);
    deviceLabel->setBuddy(devices_);
    devices_->setAccessibleName(tr("Audio device used for playback"));
    layout->addWidget(deviceLabel);
    layout->addWidget(devices_);
    // Where Add Tracks' previews play: the person at the desk, not the callers.
    auto* previewLabel = new QLabel(tr("Pre&view on:"), this);
    previewLabel->setBuddy(previews_);
    previews_->setAccessibleName(tr("Preview on"));
    layout->addWidget(previewLabel);
    layout->addWidget(previews_);
    layout->addSpacing(8);
    layout->addWidget(buttons_);
    connect(buttons_, &QDialogButtonBox::accepted, this, &SettingsDlg::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &SettingsDlg::reject);

    // One entry per output in the order they are reported; the stored one selected.
    const std::array<uint8_t, 16> preselect = settings_.device;
    const bool preselectDefault = IsNullGuid(preselect);
    EnumerateOutputs([&](const Guid* guid, const std::string& description, const std::string&) {
        QVariant data;
        if (guid) data = QByteArray(reinterpret_cast<const char*>(guid->data()), 16);
        devices_->addItem(QString::fromStdString(description), data);
        if ((guid && *guid == preselect) || (!guid && preselectDefault))
            devices_->setCurrentIndex(devices_->count() - 1);
        return true;
    });
    if (devices_->currentIndex() < 0 && devices_->count() > 0) devices_->setCurrentIndex(0);
    // The same outputs for previews; the desktop's default unless one was chosen.
    const QByteArray preview = PreviewDevice();
    for (int i = 0; i < devices_->count(); ++i) {
        previews_->addItem(devices_->itemText(i), devices_->itemData(i));
        if (devices_->itemData(i).toByteArray() == preview) previews_->setCurrentIndex(i);
    }
    startPlaying_->setChecked(settings_.startPlaying != 0);
    // Checked only when the login start will really happen: the stored choice and
    // the desktop's entry (a fresh "settings.cfg" says yes, but no entry exists yet).
    std::error_code ec;
    autoStartShown_ = settings_.autoStart != 0 && std::filesystem::exists(AutostartEntryPath(), ec);
    autoStart_->setChecked(autoStartShown_);
    trayIcon_->setChecked(settings_.trayIcon != 0);
    // Not one of the 19 bytes: it lives in tonewell.conf.
    TonewellConf conf;
    conf.Load();
    levellingShown_ = conf.Get("loudness") == "on";
    levelling_->setChecked(levellingShown_);
    connect(devices_, &QComboBox::currentIndexChanged, this, [this] { deviceChanged_ = true; });
    KeepPlace(this, QStringLiteral("settings"));
}

QByteArray PreviewDevice() {
    return QByteArray::fromHex(DeskSettings(QStringLiteral("devices")).value(QStringLiteral("preview")).toByteArray());
}

void SettingsDlg::accept() {
    // The stored choice changes only when the user changes the box: a "settings.cfg"
    // that says yes with no entry yet (a fresh one) keeps saying it.
    const bool autoStartChanged = autoStart_->isChecked() != autoStartShown_;
    if (autoStartChanged) settings_.autoStart = autoStart_->isChecked() ? 1 : 0;
    settings_.startPlaying = startPlaying_->isChecked() ? 1 : 0;
    settings_.trayIcon = trayIcon_->isChecked() ? 1 : 0;
    settings_.device.fill(0);
    // No entry, or the default output: all zero.
    const QByteArray guid =
        devices_->currentIndex() >= 0 ? devices_->currentData().toByteArray() : QByteArray();
    if (guid.size() == 16) std::memcpy(settings_.device.data(), guid.constData(), 16);
    if (!settings_.SaveSettings(&saveProblem_) && saveProblem_.empty()) saveProblem_ = "?";
    // The person's own choice: kept with the desk's settings, not in the working folder.
    DeskSettings(QStringLiteral("devices"))
        .setValue(QStringLiteral("preview"), previews_->currentData().toByteArray().toHex());
    if (levelling_->isChecked() != levellingShown_ &&
        !SetTonewellConfValue("loudness", levelling_->isChecked() ? "on" : "off",
                              &levellingProblem_) &&
        levellingProblem_.empty())
        levellingProblem_ = "?";
    // The login start itself is the desktop's: its autostart entry follows the box.
    std::error_code ec;
    const std::string folder = std::filesystem::current_path(ec).string();
    if (autoStartChanged || autoStartShown_)
        SetAutostart(autoStart_->isChecked(), QCoreApplication::applicationFilePath().toStdString(),
                     folder, autostartProblem_);
    QDialog::accept();
}

}  // namespace tw
