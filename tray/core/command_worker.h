#pragma once

#include <functional>
#include <memory>

// Sends the tray's pipe commands on one thread of its own, so that a slow or stalled service
// never blocks the window, and never has more than one status poll waiting on the pipe.
namespace quietway {

class CommandWorker {
public:
    // `send` does the exchange (PipeClient::send_command); `reply` is called on the worker
    // thread after each successful one with the command and the status it returned.
    using Send = std::function<bool(int command, int& status)>;
    using Reply = std::function<void(int command, int status)>;

    CommandWorker(Send send, Reply reply);
    // Ends the thread; a send that is stuck on a dead service is left behind, not waited for.
    ~CommandWorker();
    CommandWorker(const CommandWorker&) = delete;
    CommandWorker& operator=(const CommandWorker&) = delete;

    // Whether the thread runs; false when it could not be created.
    bool running() const;

    // Queues a status poll (command 3) unless one is queued or being sent; false when skipped.
    bool poll();
    // Queues a menu command; it goes before any queued poll. A newer menu command replaces
    // one not yet sent.
    void command(int command);

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace quietway
