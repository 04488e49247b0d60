#pragma once

// What the on-hold automaton asks of the two channels and the two track lists.
// The playback class serves it with real sound; tests serve it with a recorder.
// Main thread only.

namespace tw {

class OnHoldChannels {
  public:
    virtual ~OnHoldChannels() = default;
    virtual void PlayMusic() = 0;
    virtual void PreloadMusic() = 0;
    virtual void StopMusic() = 0;
    virtual void PlayVoice() = 0;
    virtual void PreloadVoice() = 0;
    virtual void StopVoice() = 0;
    virtual bool MusicHasCurrent() const = 0;
    virtual bool VoiceHasCurrent() const = 0;
    // Level in hundredths of a dB for the channel's volume at a fade offset.
    virtual int ChannelLevel(bool isMusic, int fadeOffset) const = 0;
    // Sets the level of the music channel's current sound.
    virtual void SetMusicCurrentLevel(int level) = 0;
    virtual int MusicGapSeconds() const = 0;
    virtual int VoiceGapSeconds() const = 0;
};

// ((fadeOffset + 3000) * volume) / 10 - 3000, truncating: volume 10 with no fade is
// full loudness, each volume step below 10 takes 3 dB off, volume 0 is -30 dB.
inline int ComputeChannelLevel(int volume, int fadeOffset) {
    return ((fadeOffset + 3000) * volume) / 10 - 3000;
}

}  // namespace tw
