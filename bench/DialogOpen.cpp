// How long the Add Tracks dialog takes to open on a category of many files, in
// the current working folder (prepared by bench/add-tracks-open). With --show N
// it stays on screen N seconds (to look at it); --schedule shows the Schedule
// dialog instead, --recorder the recorder (recording for N seconds), --manage
// Manage Audio on 2000 tracks a list (timing its opening and a delete of 1000).
#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "AddTracksDlg.h"
#include "ManageAudioDlg.h"
#include "RecordVoiceDlg.h"
#include "ScheduleDlg.h"
#include "Skin.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int show = 0;
    bool schedule = false, recorder = false, manage = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--show") == 0 && i + 1 < argc) show = std::atoi(argv[++i]);
        if (std::strcmp(argv[i], "--schedule") == 0) schedule = true;
        if (std::strcmp(argv[i], "--recorder") == 0) recorder = true;
        if (std::strcmp(argv[i], "--manage") == 0) manage = true;
    }
    tw::InitSkin();
    tw::SystemClock clock;
    tw::ConsoleMessageBox boxes;
    tw::AudioConfig config(clock, boxes);
    std::unique_ptr<tw::SoundDevice> device;
    tw::SoundDevice::Create(nullptr, tw::OutputMode::Null, device);
    if (manage) {
        // 2000 tracks in each list: open, then delete 1000 selected at once.
        for (int i = 0; i < 2000; ++i) {
            const std::string n = std::to_string(i);
            config.music.tracks.push_back({"sounds\\Music Tracks\\Many\\Track " + n + ".mp3",
                                           tw::TrackSchedule::New(clock), true});
            config.voice.tracks.push_back({"sounds\\Voice Messages\\Many\\Message " + n + ".wav",
                                           tw::TrackSchedule::New(clock), true});
        }
        QElapsedTimer timer;
        timer.start();
        tw::ManageAudioDlg dialog(config, device.get());
        dialog.show();
        QApplication::processEvents();
        const qint64 open = timer.elapsed();
        for (int i = 0; i < 2000; i += 2) dialog.music().list->item(i)->setSelected(true);
        timer.restart();
        dialog.music().remove->click();
        QApplication::processEvents();
        std::printf(
            "Manage Audio opened on 2 x 2000 tracks in %lld ms; deleted 1000 selected in %lld ms\n",
            static_cast<long long>(open), static_cast<long long>(timer.elapsed()));
        if (show > 0) {
            QTimer::singleShot(show * 1000, &dialog, &QDialog::reject);
            dialog.exec();
        }
        return 0;
    }
    if (recorder) {
        tw::RecordVoiceDlg dialog(device.get());
        QTimer::singleShot(300, &dialog, [&dialog] { dialog.recordButton()->click(); });
        QTimer::singleShot(show * 1000, &dialog, [&dialog] { dialog.recordButton()->click(); });
        QTimer::singleShot(show * 1000 + 3000, &dialog, &QDialog::reject);
        dialog.exec();
        return 0;
    }
    if (schedule) {
        tw::TrackSchedule a = tw::TrackSchedule::New(clock), b = a;
        a.timeRangeOn = true;
        a.timeFrom.Set(9, 0, 0);
        a.timeTo.Set(17, 30, 0);
        b.timeRangeOn = true;
        b.timeFrom.Set(8, 0, 0);
        b.timeTo.Set(12, 0, 0);
        tw::ScheduleDlg dialog(true, {&a, &b});
        QTimer::singleShot(show * 1000, &dialog, &QDialog::reject);
        dialog.exec();
        return 0;
    }
    QElapsedTimer timer;
    timer.start();
    tw::AddTracksDlg dialog(true, config, device.get());
    dialog.show();
    QApplication::processEvents();
    const qint64 ms = timer.elapsed();
    std::printf("Add Tracks opened on %d tracks in %lld ms\n",
                dialog.trackList() ? static_cast<int>(dialog.trackList()->count()) : 0,
                static_cast<long long>(ms));
    if (show > 0) {
        if (dialog.trackList()->count() > 1) dialog.SpeakerClicked(1);
        dialog.trackList()->item(0)->setSelected(true);
        QTimer::singleShot(show * 1000, &dialog, &QDialog::reject);
        dialog.exec();
    }
    tw::ShutdownSkin();
    return 0;
}
