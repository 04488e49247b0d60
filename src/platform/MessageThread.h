#pragma once

// A worker thread with a message queue: posted messages are handled on it one at
// a time, in the order they were posted. A message is (id, wParam, payload); the
// payload is owned by the message and freed after its handling. kQuit ends the
// loop; messages posted after it are freed unhandled.
//
// Threads: Post and PostTask from any thread; the handler, the tasks and the idle
// hook run on the worker. The destructor posts kQuit and joins, so every message
// posted before it is handled first.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace tw {

struct MessagePayload {
    virtual ~MessagePayload() = default;
};

struct ThreadMessage {
    int id = 0;
    uintptr_t wParam = 0;
    std::unique_ptr<MessagePayload> payload;
};

class MessageThread {
  public:
    static constexpr int kQuit = -1;
    static constexpr int kTask = -2;  // PostTask's own messages
    // Returns false to end the loop (as kQuit would) after this message.
    using Handler = std::function<bool(ThreadMessage& message)>;

    // `idle`, when given, runs on the worker every `idleMs` while no message comes.
    explicit MessageThread(Handler handler = {}, std::function<void()> idle = {},
                           std::chrono::milliseconds idleMs = std::chrono::milliseconds(20));
    ~MessageThread();
    MessageThread(const MessageThread&) = delete;
    MessageThread& operator=(const MessageThread&) = delete;

    void Post(int id, uintptr_t wParam = 0, std::unique_ptr<MessagePayload> payload = nullptr);
    // Runs `task` on the worker, in turn with the messages.
    void PostTask(std::function<void()> task);
    // Whether the caller is the worker itself.
    bool OnThread() const { return std::this_thread::get_id() == thread_.get_id(); }

  private:
    void Run();

    Handler handler_;
    std::function<void()> idle_;
    std::chrono::milliseconds idleMs_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<ThreadMessage> queue_;
    std::thread thread_;  // last: starts once the rest is built
};

}  // namespace tw
