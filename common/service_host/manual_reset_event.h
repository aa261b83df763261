#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace quietway {

// An event that stays signalled once set, like a manual-reset event that is never reset.
class ManualResetEvent {
public:
    void set() {
        // Notified under the lock: a waiter that wakes may destroy the event at once.
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = true;
        condition_.notify_all();
    }

    void wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        condition_.wait(lock, [this] { return signalled_; });
    }

    bool wait_for(std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> lock(mutex_);
        return condition_.wait_for(lock, limit, [this] { return signalled_; });
    }

    bool is_set() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return signalled_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable condition_;
    bool signalled_ = false;
};

}  // namespace quietway
