#pragma once

// What the playback class shows in the main window. The window implements it with
// Qt; headless and render runs use NullView. Main thread only.

#include <map>
#include <string>
#include <vector>

namespace tw {

class PlayerView {
  public:
    virtual ~PlayerView() = default;
    virtual void SelectMusicRow(int row) = 0;
    virtual void SelectVoiceRow(int row) = 0;
    virtual void SetMusicProgress(int percent) = 0;
    virtual void SetVoiceProgress(int percent) = 0;
    virtual void SetTitle(const std::string& title) = 0;
    virtual void SetButtons(bool playEnabled, bool pauseEnabled) = 0;
    // One pass of each list in play order, without the kind prefix.
    virtual void SetFileLists(const std::vector<std::string>& voice,
                              const std::vector<std::string>& music) = 0;
    virtual void EnableManageAudio(bool enabled) = 0;
    // One line on what plays, what comes next, or why nothing plays.
    virtual void SetStatus(const std::string& text) = 0;
    // Rows (by shown name) whose track could not be loaded, with the reason; every
    // other row is unmarked.
    using TrackProblems = std::map<std::string, std::string>;
    virtual void MarkFailedTracks(const TrackProblems& voice, const TrackProblems& music) = 0;
};

class NullView : public PlayerView {
  public:
    void SelectMusicRow(int) override {}
    void SelectVoiceRow(int) override {}
    void SetMusicProgress(int) override {}
    void SetVoiceProgress(int) override {}
    void SetTitle(const std::string&) override {}
    void SetButtons(bool, bool) override {}
    void SetFileLists(const std::vector<std::string>&, const std::vector<std::string>&) override {}
    void EnableManageAudio(bool) override {}
    void SetStatus(const std::string&) override {}
    void MarkFailedTracks(const TrackProblems&, const TrackProblems&) override {}
};

}  // namespace tw
