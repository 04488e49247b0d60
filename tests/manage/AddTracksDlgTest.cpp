#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <functional>

#include "AddTracksDlg.h"
#include "Loudness.h"
#include "QtTestMain.h"
#include "TempFolder.h"
#include "Wav.h"

using namespace tw;
namespace fs = std::filesystem;

namespace {

using tw::test::WaitFor;

class AddTracks : public test::TempFolderTest {
  protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        ASSERT_EQ(SoundDevice::Create(nullptr, OutputMode::Direct, device, 44100), DS_OK);
    }
    void TearDown() override {
        device.reset();
        TempFolderTest::TearDown();
    }
    std::unique_ptr<AddTracksDlg> Open(bool isMusic = true) {
        return std::make_unique<AddTracksDlg>(isMusic, config, device.get(),
                                              DialogServices{nullptr, &boxes, &clock});
    }
    static int Row(const AddTracksDlg& d, const QString& text) {
        for (int i = 0; i < d.trackList()->count(); ++i)
            if (d.trackList()->item(i)->text() == text) return i;
        return -1;
    }
    static QStringList Rows(const AddTracksDlg& d) {
        QStringList out;
        for (int i = 0; i < d.trackList()->count(); ++i) out << d.trackList()->item(i)->text();
        return out;
    }
    // Renders `seconds` of the mix; the RMS of the 1 kHz tone in it.
    double Render(double seconds, double hz = 1000) {
        std::vector<float> out(2 * static_cast<size_t>(44100 * seconds));
        device->mixer().Render(out.data(), static_cast<int>(out.size() / 2));
        std::vector<float> left;
        for (size_t i = 0; i < out.size(); i += 2) left.push_back(out[i]);
        return test::ToneMagnitude(left, 44100, hz);
    }

    VirtualClock clock{{2026, 12, 7, 9, 0, 0}};
    RecordingMessageBox boxes;
    AudioConfig config{clock, boxes};
    std::unique_ptr<SoundDevice> device;
};

TEST_F(AddTracks, CategoriesTracksAndOkAppendsTheSelectionWithEmptySchedules) {
    for (const char* c : {"Zeta", "Custom", "alpha", "Beta"})
        fs::create_directories(std::string("sounds/Music Tracks/") + c);
    for (const char* f : {".hidden", "readme.txt"})
        test::WriteText(std::string("sounds/Music Tracks/Zeta/") + f, "");
    for (const char* f : {"b.wav", "A.wav"})
        test::WriteTone(std::string("sounds/Music Tracks/Zeta/") + f, 0.1);
    auto d = Open();
    EXPECT_EQ(d->windowTitle(), "Add Music Tracks");
    EXPECT_TRUE(d->helpText()->text().startsWith("You may add music tracks"));
    ASSERT_EQ(d->categoryBox()->count(), 4);
    EXPECT_EQ(d->categoryBox()->itemText(0), "Beta");
    EXPECT_EQ(d->categoryBox()->itemText(3), "Custom");
    // Beta is empty: the first category with a track is chosen.
    EXPECT_EQ(d->categoryBox()->currentText(), "Zeta");
    EXPECT_EQ(Rows(*d), (QStringList{"A.wav", "b.wav", "readme.txt"}));
    d->categoryBox()->setCurrentIndex(0);
    EXPECT_EQ(Rows(*d), QStringList{AddTracksDlg::kNoTracks});
    EXPECT_FALSE(d->trackList()->isEnabled());
    EXPECT_FALSE(d->selectAllButton()->isEnabled());
    d->categoryBox()->setCurrentIndex(1);
    d->selectAllButton()->click();
    d->okButton()->click();
    // What the loader cannot play is refused with its words, not added.
    ASSERT_EQ(config.music.tracks.size(), 2u);
    EXPECT_EQ(config.music.tracks[0].name, "sounds\\Music Tracks\\Zeta\\A.wav");
    EXPECT_EQ(config.music.tracks[1].name, "sounds\\Music Tracks\\Zeta\\b.wav");
    ASSERT_FALSE(boxes.boxes().empty());
    EXPECT_EQ(boxes.boxes().back().text,
              "Unable to read file (sounds\\Music Tracks\\Zeta\\readme.txt): the file is empty");
    EXPECT_FALSE(config.music.tracks[0].schedule.HasAnyRange());
    EXPECT_TRUE(config.voice.tracks.empty());
    // The same file again is a second entry; Cancel adds nothing.
    auto again = Open();
    EXPECT_EQ(again->trackList()->item(0)->text(), "A.wav  (already in the list)");
    EXPECT_EQ(again->trackList()->item(2)->text(), "readme.txt");
    again->trackList()->item(0)->setSelected(true);
    boxes.Clear();
    again->okButton()->click();  // asked first, and Yes
    EXPECT_EQ(config.music.tracks.size(), 3u);
    EXPECT_EQ(config.music.tracks[2].name, config.music.tracks[0].name);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Zeta\\A.wav is in the list already. Add it again?");
    // No adds nothing; a row that only has the focus (nothing selected) is not chosen.
    auto third = Open();
    third->trackList()->item(0)->setSelected(true);
    boxes.QueueAnswer(MbResult::No);
    third->okButton()->click();
    auto fourth = Open();
    fourth->trackList()->clearSelection();
    fourth->trackList()->setCurrentRow(1, QItemSelectionModel::NoUpdate);
    fourth->okButton()->click();
    EXPECT_EQ(config.music.tracks.size(), 3u);
    auto cancelled = Open();
    cancelled->selectAllButton()->click();
    cancelled->cancelButton()->click();
    EXPECT_EQ(config.music.tracks.size(), 3u);
}

TEST_F(AddTracks, NoFoldersAndNamesThatCannotBeStored) {
    {
        auto d = Open(false);
        EXPECT_EQ(d->windowTitle(), "Add Voice Messages");
        EXPECT_EQ(d->categoryBox()->count(), 0);
        EXPECT_EQ(Rows(*d), QStringList{AddTracksDlg::kNoTracks});
        EXPECT_FALSE(d->selectAllButton()->isEnabled());
        d->okButton()->click();
    }
    EXPECT_TRUE(config.voice.tracks.empty());
    const std::string c = "sounds/Voice Messages/General/";
    fs::create_directories(c);
    test::WriteTone(c + "fine.wav", 0.1);
    test::WriteText(c + std::string(240, 'n') + ".wav", "");  // stored, it would pass 255
    test::WriteText(c + "caf\xE9.wav", "");                   // Latin-1, not UTF-8
    auto d = Open(false);
    ASSERT_EQ(d->trackList()->count(), 3);
    d->selectAllButton()->click();
    int chosen = 0;
    for (int i = 0; i < 3; ++i) {
        const QListWidgetItem* item = d->trackList()->item(i);
        const bool usable = item->text() == "fine.wav";
        EXPECT_EQ(bool(item->flags() & Qt::ItemIsEnabled), usable) << item->text().toStdString();
        if (!usable) {
            EXPECT_FALSE(item->toolTip().isEmpty());
        }
        chosen += item->isSelected();
    }
    EXPECT_EQ(chosen, 1);
    d->okButton()->click();
    ASSERT_EQ(config.voice.tracks.size(), 1u);
    EXPECT_EQ(config.voice.tracks[0].name, "sounds\\Voice Messages\\General\\fine.wav");
}

// Files from anywhere: a real sound is copied in, listed and chosen; a text file
// named .wav is refused with the loader's words and never appears in the category;
// a name that is there already is not replaced.
TEST_F(AddTracks, ImportChecksCopiesAndListsFilesFromAnywhere) {
    fs::create_directories("sounds/Music Tracks/T");
    fs::create_directories("stick");
    test::WriteTone("stick/Summer.wav", 0.2);
    test::WriteText("stick/notes.wav", "these are my notes, not a sound");
    test::WriteTone("sounds/Music Tracks/T/Taken.wav", 0.1);
    test::WriteTone("stick/Taken.wav", 0.3);
    const auto takenSize = fs::file_size("sounds/Music Tracks/T/Taken.wav");
    auto d = Open();
    d->ImportFiles({"stick/Summer.wav", "stick/notes.wav", "stick/Taken.wav"});
    EXPECT_TRUE(fs::exists("sounds/Music Tracks/T/Summer.wav"));
    EXPECT_FALSE(fs::exists("sounds/Music Tracks/T/notes.wav"));
    EXPECT_EQ(fs::file_size("sounds/Music Tracks/T/Taken.wav"), takenSize);
    size_t files = 0;
    for (const auto& e : fs::directory_iterator("sounds/Music Tracks/T")) files += e.is_regular_file();
    EXPECT_EQ(files, 2u);  // no temporary left behind
    ASSERT_EQ(boxes.boxes().size(), 2u);
    EXPECT_EQ(boxes.boxes()[0].text, "Unsupported audio format (stick/notes.wav): WAV in PCM 8-32 bit, float, u-law or A-law; MP3");
    EXPECT_EQ(boxes.boxes()[1].text, "stick/Taken.wav is in this category already.");
    EXPECT_EQ(Rows(*d), (QStringList{"Summer.wav", "Taken.wav"}));
    EXPECT_TRUE(d->trackList()->item(0)->isSelected());
    d->okButton()->click();
    ASSERT_EQ(config.music.tracks.size(), 1u);
    EXPECT_EQ(config.music.tracks[0].name, "sounds\\Music Tracks\\T\\Summer.wav");
}

TEST_F(AddTracks, PreviewStartsStopsSwitchesEndsAndFailsCleanly) {
    const std::string c = "sounds/Music Tracks/T/";
    fs::create_directories(c);
    test::WriteTone(c + "long.wav", 3, 1000, 44100, 1, 0.5);
    test::WriteTone(c + "short.wav", 0.1, 1000, 44100, 1, 0.5);
    test::WriteText(c + "broken.wav", "RIFF not really");
    ASSERT_EQ(::mkfifo((c + "pipe.wav").c_str(), 0644), 0);
    auto d = Open();
    const int longRow = Row(*d, "long.wav"), shortRow = Row(*d, "short.wav");

    // Start: the row says so, and the tone is heard through the mixer.
    d->SpeakerClicked(longRow);
    EXPECT_EQ(d->trackList()->item(longRow)->text(), "Playing --> long.wav");
    ASSERT_TRUE(WaitFor([&] { return d->previewBuffer() != nullptr; }));
    EXPECT_GT(Render(0.5), 0.1);
    // A second click on the same speaker stops it.
    d->SpeakerClicked(longRow);
    EXPECT_EQ(d->playingRow(), -1);
    EXPECT_EQ(d->trackList()->item(longRow)->text(), "long.wav");
    EXPECT_LT(Render(0.2), 0.001);
    // Another row's speaker switches to it; a sound shorter than a tick is seen to end.
    d->SpeakerClicked(longRow);
    d->SpeakerClicked(shortRow);
    EXPECT_EQ(d->trackList()->item(longRow)->text(), "long.wav");
    ASSERT_TRUE(WaitFor([&] { return d->previewBuffer() != nullptr; }));
    Render(0.3);
    ASSERT_TRUE(WaitFor([&] { return d->playingRow() == -1; }, 2000));
    EXPECT_EQ(d->trackList()->item(shortRow)->text(), "short.wav");

    // A file that will not load: its message, nothing plays, the row is itself again.
    for (const char* name : {"broken.wav", "pipe.wav"}) {
        const int row = Row(*d, name);
        d->SpeakerClicked(row);
        ASSERT_TRUE(WaitFor([&] { return !d->previewLoading(); }));
        EXPECT_EQ(d->playingRow(), -1);
        EXPECT_EQ(d->trackList()->item(row)->text(), name);
        EXPECT_EQ(d->previewBuffer(), nullptr);
    }
    ASSERT_EQ(boxes.boxes().size(), 2u);
    EXPECT_EQ(boxes.boxes()[0].text,
              "Unsupported audio format (sounds\\Music Tracks\\T\\broken.wav): WAV in PCM 8-32 bit, float, u-law or A-law; MP3");
    EXPECT_EQ(boxes.boxes()[1].text, "Unable to read file (sounds\\Music Tracks\\T\\pipe.wav): it is not a regular file");

    // OK during a preview appends the plain name.
    d->SpeakerClicked(longRow);
    d->trackList()->item(longRow)->setSelected(true);
    d->okButton()->click();
    ASSERT_EQ(config.music.tracks.size(), 1u);
    EXPECT_EQ(config.music.tracks[0].name, "sounds\\Music Tracks\\T\\long.wav");
    EXPECT_EQ(d->previewBuffer(), nullptr);
}

// A click on a row's speaker previews it without touching the selection; a click
// on the name selects as usual.
TEST_F(AddTracks, TheSpeakerIsTheStartOfTheRowAndMixesWithWhatIsOnHold) {
    fs::create_directories("sounds/Music Tracks/T");
    test::WriteTone("sounds/Music Tracks/T/a.wav", 2, 1000, 44100, 1, 0.5);
    test::WriteTone("sounds/Music Tracks/T/b.wav", 2, 1000, 44100, 1, 0.5);
    auto d = Open();
    d->show();
    QListWidget* list = d->trackList();
    const QRect row = list->visualItemRect(list->item(1));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      QPoint(row.left() + 4, row.center().y()));
    EXPECT_EQ(d->playingRow(), 1);
    EXPECT_TRUE(list->selectedItems().isEmpty());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      QPoint(row.right() - 4, row.center().y()));
    EXPECT_TRUE(list->item(1)->isSelected());
    EXPECT_EQ(d->playingRow(), 1);  // still playing

    // On hold: a 440 Hz song plays; the 1 kHz preview is heard over it, at full level.
    std::unique_ptr<SoundBuffer> song;
    test::WriteTone("song.wav", 2, 440, 44100, 1, 0.5);
    std::shared_ptr<SoundStream> songData;
    uint32_t size = 0;
    ASSERT_TRUE(LoadSound(song, songData, "song.wav", size, device.get(), boxes));
    song->SetVolume(-1500);
    song->Play();
    ASSERT_TRUE(WaitFor([&] { return d->previewBuffer() != nullptr; }));
    EXPECT_GT(Render(0.5, 1000), 0.1);
    EXPECT_GT(Render(0.5, 440), 0.01);
    // From the keyboard: "Pre&view" on the current row stops that row's preview.
    list->setCurrentRow(1);
    d->previewButton()->click();
    EXPECT_EQ(d->playingRow(), -1);
}

}  // namespace

int main(int argc, char** argv) {
    return tw::test::RunQtTests(argc, argv);
}

// With levelling on, the preview plays at the gain the track will have on hold.
TEST_F(AddTracks, PreviewIsLevelledLikeTheTrackOnHold) {
    const std::string c = "sounds/Music Tracks/T/";
    fs::create_directories(c);
    test::WriteTone(c + "quiet.wav", 3, 1000, 44100, 1, 0.05);
    Leveller leveller({true, -20, -16});
    auto d = std::make_unique<AddTracksDlg>(true, config, device.get(),
                                            DialogServices{nullptr, &boxes, &clock, &leveller});
    d->SpeakerClicked(Row(*d, "quiet.wav"));
    ASSERT_TRUE(WaitFor([&] { return d->previewBuffer() != nullptr; }));
    const double levelled = Render(0.5);
    d->SpeakerClicked(Row(*d, "Playing --> quiet.wav"));
    auto plain = Open();
    plain->SpeakerClicked(Row(*plain, "quiet.wav"));
    ASSERT_TRUE(WaitFor([&] { return plain->previewBuffer() != nullptr; }));
    // A mono tone at -26 dBFS peak, about -26 LUFS heard on both sides, is lifted by
    // the 6 dB it needs.
    EXPECT_NEAR(test::Db(levelled / Render(0.5)), 6.0, 1.0);
    EXPECT_EQ(leveller.measurements(), 1);
}

namespace {

// A file whose name holds a line end would break "audio.cfg" apart: refused at OK
// with a word, and the list keeps the rest.
TEST_F(AddTracks, ANameWithAControlCharacterIsNeverListed) {
    fs::create_directories("sounds/Music Tracks/T");
    test::WriteTone("sounds/Music Tracks/T/bad\nname.wav", 0.1);
    test::WriteTone("sounds/Music Tracks/T/good.wav", 0.1);
    auto d = Open();
    for (int row = 0; row < d->trackList()->count(); ++row) d->trackList()->item(row)->setSelected(true);
    d->okButton()->click();
    ASSERT_EQ(config.music.tracks.size(), 1u);
    EXPECT_EQ(config.music.tracks[0].name, "sounds\\Music Tracks\\T\\good.wav");
    ASSERT_FALSE(boxes.boxes().empty());
    EXPECT_NE(boxes.boxes().back().text.find("has a control character in its name"),
              std::string::npos);
}

}  // namespace
