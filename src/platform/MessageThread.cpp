#include "MessageThread.h"

namespace tw {

MessageThread::MessageThread() : thread_([this] { Run(); }) {}

MessageThread::~MessageThread() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
        queue_.clear();
    }
    wake_.notify_all();
    thread_.join();
}

void MessageThread::Post(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        queue_.push_back(std::move(task));
    }
    wake_.notify_one();
}

void MessageThread::Run() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> hold(lock_);
            wake_.wait(hold, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            task = std::move(queue_.front());
            queue_.pop_front();
        }
        task();
    }
}

}  // namespace tw
