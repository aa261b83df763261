#include "tray/core/report_sender.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "common/log/rotating_log.h"
#include "tray/core/notification_report.h"

namespace quietway {

struct ReportSender::State {
    Deliver deliver;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::pair<std::string, int32_t>> queue;
    bool stop = false;
    bool running = false;
};

namespace {

// More than this many reports waiting means the server is gone; older ones are dropped.
constexpr size_t kMaxQueued = 16;

void run(const std::shared_ptr<ReportSender::State>& state) {
    std::unique_lock lock(state->mutex);
    for (;;) {
        state->wake.wait(lock, [&] { return state->stop || !state->queue.empty(); });
        if (state->stop) break;
        const auto report = std::move(state->queue.front());
        state->queue.pop_front();
        lock.unlock();
        state->deliver(report.first, report.second);
        lock.lock();
    }
    state->running = false;
}

}  // namespace

ReportSender::ReportSender() : ReportSender(report_notification_state) {}

ReportSender::ReportSender(Deliver deliver) : state_(std::make_shared<State>()) {
    state_->deliver = std::move(deliver);
    state_->running = true;
    try {
        std::thread([state = state_] { run(state); }).detach();
    } catch (const std::system_error& error) {
        state_->running = false;
        log("Can't start the report thread: %s", error.what());
    }
}

ReportSender::~ReportSender() {
    std::lock_guard lock(state_->mutex);
    state_->stop = true;
    state_->wake.notify_all();
}

void ReportSender::send(const std::string& id, int32_t state) {
    std::lock_guard lock(state_->mutex);
    if (!state_->running) {
        log("Error change notification state on server");
        return;
    }
    if (state_->queue.size() >= kMaxQueued) state_->queue.pop_front();
    state_->queue.emplace_back(id, state);
    state_->wake.notify_all();
}

}  // namespace quietway
