#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// The platform part of one bridge run: the pipe that collects the child's standard output and
// error, and the hidden child itself.
namespace quietway {

// What a session learns about the child before it is terminated. On Windows the handles and
// ids of the process-creation result; on Linux only the process id, which is 0 once the child
// has been reaped (its number may then belong to another process).
struct ChildProcessInfo {
    void* process = nullptr;
    void* thread = nullptr;
    unsigned long process_id = 0;
    unsigned long thread_id = 0;
};

// Ends a reader's wait at once: set by a stop request, cleared before the next run starts.
class BridgeWake {
public:
    BridgeWake();
    ~BridgeWake();
    BridgeWake(const BridgeWake&) = delete;
    BridgeWake& operator=(const BridgeWake&) = delete;

    void set();
    void clear();
    // Waits up to `ms` for `set`; true when it is set.
    bool wait(int ms) const;

private:
    friend class BridgeChild;
    struct State;
    std::unique_ptr<State> state_;
};

class BridgeChild {
public:
    BridgeChild();
    ~BridgeChild();  // releases whatever is still held: kills and reaps the child, closes all
    BridgeChild(const BridgeChild&) = delete;
    BridgeChild& operator=(const BridgeChild&) = delete;

    bool create_pipe();
    // Starts the hidden child with both output streams on the pipe and no input.
    bool launch(const std::string& program, const std::vector<std::string>& arguments);
    // Bytes waiting in the pipe (at most `capacity` counted), or -1 when the pipe fails.
    long waiting(size_t capacity);
    // Returns once output waits in the pipe, `wake` is set or `timeout_ms` have passed.
    void wait_for_output(const BridgeWake& wake, int timeout_ms);
    // One synchronous read of up to `capacity` bytes; -1 on failure.
    long read(char* buffer, size_t capacity);
    bool has_exited();
    ChildProcessInfo info() const;

    // The cleanup steps, in the order the bridge calls them.
    void close_thread_handle();
    void terminate();
    void close_process();
    void close_pipe();  // the read end, then the write end

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The polite close: asks the child to end (a quit message to its main thread on Windows,
// SIGTERM on Linux) and gives it 300 ms of grace. The hard termination follows in cleanup.
void ask_child_to_close(const ChildProcessInfo& child);

}  // namespace quietway
