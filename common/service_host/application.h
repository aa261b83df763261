#pragma once

#include <atomic>
#include <cstdint>

namespace quietway {

class QuietwayService;

// The object a service program runs on the host's application thread: `init`, then `run`
// when that succeeded, then `cleanup`, then destruction. Destroying it signals the host's
// stop event, which lets the service end; the signal comes last, after every member of
// the derived application is gone.
class Application {
public:
    explicit Application(QuietwayService* host) : host_(host) {}
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    virtual bool init() = 0;
    virtual void cleanup() = 0;
    // The program's loop; returns once stop_requested() is seen.
    virtual void run() = 0;
    virtual ~Application();

    // Set by the host's stop handler, polled by `run`.
    void request_stop() { stop_requested_.store(1); }
    bool stop_requested() const { return stop_requested_.load() != 0; }

    QuietwayService* host() const { return host_; }

private:
    QuietwayService* host_;
    std::atomic<uint32_t> stop_requested_{0};
};

}  // namespace quietway
