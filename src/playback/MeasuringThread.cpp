#include "MeasuringThread.h"

namespace tw {

MeasuringThread::MeasuringThread(std::shared_ptr<Leveller> leveller, TimerService& timers)
    : leveller_(std::move(leveller)), timers_(timers) {}

MeasuringThread::~MeasuringThread() {
    *going_ = false;
}

void MeasuringThread::Measure(const std::string& path, bool isMusic,
                              const std::shared_ptr<SoundStream>& stream, Done done) {
    thread_.PostTask([leveller = leveller_, going = going_, timers = &timers_,
                      owner = std::weak_ptr<const char>(lifetime_), path, isMusic,
                      weak = std::weak_ptr<SoundStream>(stream), done = std::move(done)] {
        // Nobody waits for a sound that is no longer loaded.
        if (weak.expired() || !*going) return;
        const int gain = leveller->GainFor(path, isMusic, going.get());
        if (!*going) return;
        timers->PostTaskWhileAlive(owner, [weak, gain, done] {
            if (auto stream = weak.lock()) done(stream, gain);
        });
    });
}

}  // namespace tw
