#include "tray/core/command_worker.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "common/pipe/pipe_vocabulary.h"
#include "tray/core/tray_menu.h"

namespace quietway {

struct CommandWorker::State {
    Send send;
    Reply reply;
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable idle;
    std::optional<int> menu_command;
    bool poll_queued = false;
    bool poll_in_flight = false;
    bool busy = false;
    bool stop = false;
    bool running = false;
    // Held while a reply is delivered, so that none is delivered after the owner has gone.
    std::mutex reply_mutex;
    bool replies_off = false;
};

namespace {

void run(const std::shared_ptr<CommandWorker::State>& state) {
    std::unique_lock lock(state->mutex);
    for (;;) {
        state->wake.wait(lock,
                         [&] { return state->stop || state->menu_command || state->poll_queued; });
        if (state->stop) break;
        int command = kPipeStatus;
        bool is_poll = false;
        if (state->menu_command) {
            command = *state->menu_command;
            state->menu_command.reset();
        } else {
            state->poll_queued = false;
            state->poll_in_flight = true;
            is_poll = true;
        }
        state->busy = true;
        lock.unlock();
        int status = 0;
        const bool ok = state->send(command, status);
        if (ok) {
            std::lock_guard reply_guard(state->reply_mutex);
            if (!state->replies_off) state->reply(command, status);
        }
        lock.lock();
        state->busy = false;
        if (is_poll) state->poll_in_flight = false;
        state->idle.notify_all();
    }
    state->running = false;
    state->idle.notify_all();
}

}  // namespace

CommandWorker::CommandWorker(Send send, Reply reply) : state_(std::make_shared<State>()) {
    state_->send = std::move(send);
    state_->reply = std::move(reply);
    state_->running = true;
    try {
        std::thread([state = state_] { run(state); }).detach();
    } catch (const std::system_error&) {
        state_->running = false;
    }
}

CommandWorker::~CommandWorker() {
    {
        std::lock_guard reply_guard(state_->reply_mutex);
        state_->replies_off = true;
    }
    std::unique_lock lock(state_->mutex);
    state_->stop = true;
    state_->wake.notify_all();
    // An exchange with a live service takes milliseconds; one with a stalled service may never
    // end and is left to the process's exit.
    state_->idle.wait_for(lock, std::chrono::seconds(2), [&] { return !state_->running; });
}

bool CommandWorker::running() const {
    std::lock_guard lock(state_->mutex);
    return state_->running && !state_->stop;
}

bool CommandWorker::poll() {
    std::lock_guard lock(state_->mutex);
    if (!state_->running || state_->poll_queued || state_->poll_in_flight) return false;
    state_->poll_queued = true;
    state_->wake.notify_all();
    return true;
}

void CommandWorker::command(int command) {
    std::lock_guard lock(state_->mutex);
    state_->menu_command = command;
    state_->wake.notify_all();
}

}  // namespace quietway
