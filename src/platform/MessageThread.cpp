#include "MessageThread.h"

namespace tw {
namespace {

struct TaskPayload : MessagePayload {
    explicit TaskPayload(std::function<void()> t) : task(std::move(t)) {}
    std::function<void()> task;
};

}  // namespace

MessageThread::MessageThread(Handler handler, std::function<void()> idle,
                             std::chrono::milliseconds idleMs)
    : handler_(std::move(handler)),
      idle_(std::move(idle)),
      idleMs_(idleMs),
      thread_([this] { Run(); }) {}

MessageThread::~MessageThread() {
    Post(kQuit);
    if (thread_.joinable()) thread_.join();
}

void MessageThread::Post(int id, uintptr_t wParam, std::unique_ptr<MessagePayload> payload) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        queue_.push_back(ThreadMessage{id, wParam, std::move(payload)});
    }
    wake_.notify_one();
}

void MessageThread::PostTask(std::function<void()> task) {
    Post(kTask, 0, std::make_unique<TaskPayload>(std::move(task)));
}

void MessageThread::Run() {
    for (;;) {
        ThreadMessage message;
        {
            std::unique_lock<std::mutex> hold(lock_);
            if (idle_) {
                if (!wake_.wait_for(hold, idleMs_, [this] { return !queue_.empty(); })) {
                    hold.unlock();
                    idle_();
                    continue;
                }
            } else {
                wake_.wait(hold, [this] { return !queue_.empty(); });
            }
            message = std::move(queue_.front());
            queue_.pop_front();
        }
        if (message.id == kQuit) return;
        if (message.id == kTask) {
            static_cast<TaskPayload*>(message.payload.get())->task();
        } else if (handler_ && !handler_(message)) {
            return;
        }
    }
}

}  // namespace tw
