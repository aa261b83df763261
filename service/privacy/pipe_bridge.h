#pragma once

#include <atomic>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "service/privacy/pipe_bridge_child.h"

// Runs a tunnel program as a hidden child and hands its combined output, chunk by chunk, to
// the session that owns the runner.
namespace quietway {

// How a runner reports to its session. All calls come from the runner's reader thread.
class PipeBridgeObserver {
public:
    // No pipe or no child, or a launched run ended with an error. The code is always 0.
    virtual void on_bridge_failed(int code) = 0;
    // One chunk as one read returned it, zero-terminated. Returning false ends the run with
    // an error.
    virtual bool on_output(const char* text) = 0;
    // Cleanup is starting; the child may still be alive.
    virtual void on_child_ending(const ChildProcessInfo& child) = 0;
    // A launched run has finished its cleanup.
    virtual void on_bridge_finished() = 0;

protected:
    ~PipeBridgeObserver() = default;
};

class PipeBridge {
public:
    static constexpr size_t kChunkCapacity = 1023;
    // The longest wait for output: the child's own exit is seen at the next empty look.
    static constexpr int kReadPollMs = 400;
    // Once output has come, the rest of what the child is writing gets this long to join it.
    static constexpr int kCoalesceMs = 15;
    static constexpr int kWaitPollMs = 100;

    explicit PipeBridge(PipeBridgeObserver& observer) : observer_(observer) {}
    ~PipeBridge() { stop(); }
    PipeBridge(const PipeBridge&) = delete;
    PipeBridge& operator=(const PipeBridge&) = delete;

    // Ends any earlier run, then starts a reader thread that launches `program` with
    // `arguments` (the program's own name not included). False when no thread could be made.
    bool start(const std::string& program, const std::vector<std::string>& arguments);
    // Asks the run to end and returns once its child is gone and its thread has finished.
    // Not to be called from the observer's callbacks.
    void stop();
    bool running() const { return running_.load(); }

private:
    void run();
    void wait_for_thread();

    std::atomic<bool> running_{false};
    std::atomic<bool> stop_requested_{false};
    PipeBridgeObserver& observer_;
    std::string program_;
    std::vector<std::string> arguments_;
    BridgeWake wake_;  // ends the reader's wait when a stop is requested
    // Set with running_ and cleared as the thread's very last step, after the observer's
    // final call, so that a bridge is never destroyed under its own thread.
    std::atomic<bool> thread_active_{false};
};

// Size of the zero-filled slot each token is copied into; longer tokens are cut to fit.
inline constexpr size_t kTokenSlot = 128;

// Index of the first token, in table order, that occurs anywhere in `chunk` (case-sensitive);
// the table size when none does.
size_t match_token(const char* chunk, std::span<const std::string_view> table);

// Writes a session's header line ("Vpn data:", "Ssh data:") and the chunk to the service log.
void log_output(const char* header, const char* chunk);

}  // namespace quietway
