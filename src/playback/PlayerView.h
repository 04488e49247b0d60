#pragma once

// What the playback class shows in the main window. The window implements it with
// Qt; headless and render runs use NullView. Main thread only.

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
};

}  // namespace tw
