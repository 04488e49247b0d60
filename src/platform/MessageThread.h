#pragma once

// A worker thread with a message queue: posted tasks run on it one at a time, in
// the order they were posted.
//
// Threads: Post and the destructor from any one owning thread; tasks run on the
// worker. The destructor lets the running task finish, drops those still queued
// and joins.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace tw {

class MessageThread {
  public:
    MessageThread();
    ~MessageThread();
    MessageThread(const MessageThread&) = delete;
    MessageThread& operator=(const MessageThread&) = delete;

    void Post(std::function<void()> task);

  private:
    void Run();

    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    bool stopping_ = false;
    std::thread thread_;  // last: starts once the rest is built
};

}  // namespace tw
