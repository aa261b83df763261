#pragma once

#include <mutex>

namespace quietway {

// Guards the server's worker list.
class Mutex {
public:
    Mutex() = default;
    virtual ~Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() { mutex_.lock(); }
    void unlock() { mutex_.unlock(); }
    bool try_lock() { return mutex_.try_lock(); }

private:
    std::mutex mutex_;
};

}  // namespace quietway
