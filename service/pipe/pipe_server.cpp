#include "service/pipe/pipe_server.h"

#include <chrono>
#include <system_error>
#include <thread>

#include "common/log/rotating_log.h"
#include "common/pipe/pipe_record.h"

namespace quietway {
namespace {

constexpr auto kStopPoll = std::chrono::milliseconds(20);
constexpr auto kLockPoll = std::chrono::milliseconds(2);
constexpr auto kBusyRetry = std::chrono::milliseconds(100);
// Reads and writes end at a stop; only a command still being carried out can hold a worker.
// One that takes longer is given up rather than hold the list's lock and the stop with it.
constexpr auto kWorkerStopLimit = std::chrono::seconds(10);

void wait_until_ended(const std::atomic<bool>& running) {
    while (running.load()) std::this_thread::sleep_for(kStopPoll);
}

bool ended_within(const std::atomic<bool>& running, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (running.load()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kStopPoll);
    }
    return true;
}

void stop_worker(PipeWorker& worker) {
    log("PipeWorker stop");
    worker.stop_requested.store(true);
    worker.stop_event.set();
    if (!ended_within(worker.running, kWorkerStopLimit)) {
        // Its thread still owns it and closes its pipe once the command returns.
        log("PipeWorker still busy after %d s, left to end by itself",
            static_cast<int>(kWorkerStopLimit.count()));
        return;
    }
    worker.pipe.close();
    log("PipeWorker stopped");
}

bool has_ended(const std::shared_ptr<PipeWorker>& worker) { return !worker->running.load(); }

}  // namespace

PipeServer::PipeServer(PipeServerObserver& observer)
    : pipe_name_(pipe_path()), observer_(observer) {}

PipeServer::~PipeServer() = default;

bool PipeServer::start() {
    try {
        started_.store(true);
        std::thread([this] { run(); }).detach();
    } catch (const std::system_error& error) {
        log("failed to create PipeServer thread error = %X ",
            static_cast<unsigned>(error.code().value()));
        running_.store(false);
        stop_requested_.store(true);
        return false;
    }
    return true;
}

void PipeServer::stop() {
    log("PipeServer stopping...");
    stop_requested_.store(true);
    stop_event_.set();
    // A server that was never started has no thread that could end.
    if (started_.load()) wait_until_ended(running_);
    stop_all_workers();
    log("PipeServer stoped");
}

void PipeServer::run() {
    log("PipeServer thread running");
    if (!serve()) {
        // The service has no channel from now on; connected clients are still served.
        running_.store(false);
        return;
    }
    stop_all_workers();
    log("PipeServer thread exited");
    running_.store(false);
}

// The listener ends with this call, before running turns false, so that a server started
// right after `stop` never meets this one's channel.
bool PipeServer::serve() {
    PipeListener listener;
    bool busy = false;
    while (!stop_requested_.load()) {
        if (!make_instance(listener, busy)) return false;
        if (busy) continue;
        log("waiting client connection ...");
        auto worker = std::make_shared<PipeWorker>(*this);
        const AcceptOutcome outcome = listener.accept(worker->pipe, stop_event_);
        if (stop_requested_.load()) {
            listener.close_instance();
            worker->pipe.close();
            break;
        }
        if (outcome.kind == AcceptOutcome::kConnected) {
            log("new client connected");
            worker->peer_known = outcome.peer_known;
            worker->peer_user = outcome.peer_user;
            if (admit(worker)) {
                start_worker(worker);
            } else {
                worker->pipe.close();
            }
        } else {
            // A failed instance is dropped so that it does not count against the limit.
            log("pipe connection error = %X ", static_cast<unsigned>(outcome.error));
            listener.close_instance();
        }
    }
    return true;
}

bool PipeServer::make_instance(PipeListener& listener, bool& busy) {
    if (!busy) log("creating named pip");
    int error = 0;
    if (listener.create_instance(error)) {
        busy = false;
        return true;
    }
    if (!PipeListener::instances_busy(error)) {
        log("CreatePipe failed error=%d", error);
        return false;
    }
    if (!busy) log("every pipe instance is in use (error=%d), waiting", error);
    busy = true;
    stop_event_.wait(kBusyRetry);
    return true;
}

bool PipeServer::admit(const std::shared_ptr<PipeWorker>& worker) {
    const ClientLimits limits = client_limits();
    std::lock_guard guard(lock_);
    workers_.remove_if(has_ended);
    size_t same_user = 0;
    for (const auto& other : workers_) {
        if (other->peer_known && other->peer_user == worker->peer_user) ++same_user;
    }
    if (!worker->stop_event.valid()) {
        log("pipe client refused: no stop event for its worker");
    } else if (limits.total != 0 && workers_.size() >= limits.total) {
        log("pipe client refused: %d clients are served", static_cast<int>(workers_.size()));
    } else if (limits.per_user != 0 && !worker->peer_known) {
        log("pipe client refused: its account is unknown");
    } else if (limits.per_user != 0 && same_user >= limits.per_user) {
        log("pipe client refused: user %u has %d clients", worker->peer_user,
            static_cast<int>(same_user));
    } else {
        workers_.push_back(worker);
        return true;
    }
    return false;
}

void PipeServer::start_worker(const std::shared_ptr<PipeWorker>& worker) {
    try {
        std::thread([worker] { worker->run(); }).detach();
    } catch (const std::system_error& failure) {
        log("failed to create PipeWorker thread error = %X ",
            static_cast<unsigned>(failure.code().value()));
        worker->stop_requested.store(true);
        worker->pipe.close();
        worker->running.store(false);
    }
}

void PipeServer::stop_all_workers() {
    std::lock_guard guard(lock_);
    for (auto& worker : workers_) stop_worker(*worker);
    workers_.clear();
}

bool PipeServer::kill_duplicates(PipeWorker& worker) {
    // A worker waiting here must still notice its own stop, or a server stopping all workers
    // under the lock would wait for it for ever.
    while (!lock_.try_lock()) {
        if (worker.stop_requested.load()) return false;
        std::this_thread::sleep_for(kLockPoll);
    }
    std::lock_guard guard(lock_, std::adopt_lock);
    if (worker.stop_requested.load()) return false;
    // The id is taken under the lock: a worker is a duplicate only once it holds its id, so
    // two new clients never wait for each other.
    worker.id.store(kPipeId);
    for (auto& other : workers_) {
        // One already given up is not waited for again.
        if (other.get() != &worker && other->id.load() == worker.id.load() &&
            !other->stop_requested.load()) {
            stop_worker(*other);
        }
    }
    workers_.remove_if(has_ended);
    return true;
}

bool PipeServer::on_request(int command, int& result) {
    return observer_.on_pipe_command(command, result);
}

size_t PipeServer::worker_count() {
    std::lock_guard guard(lock_);
    return workers_.size();
}

void PipeWorker::run() {
    log("PipeWorker entered run");
    if (stop_requested.load()) {
        log("terminate flag before entering loop");
        pipe.close();
        running.store(false);
        return;
    }
    while (!stop_requested.load()) {
        uint8_t bytes[kPipeRecordSize];
        const ReadResult read = read_request(bytes);
        if (read == ReadResult::kPeerGone) break;
        if (read == ReadResult::kNone) continue;
        const PipeRecord request = decode_record(bytes);
        if (request.id != kPipeId) {
            log("wrong pipe id %d", request.id);
            break;
        }
        if (id.load() == 0) {
            log("killing duplicates...");
            if (!observer.kill_duplicates(*this)) break;
            log("kill duplicates ok");
        }
        int result = 0;
        observer.on_request(request.command, result);
        if (request.kind == kPipeWantsReply) write_reply(result);
    }
    log("PipeWorker exited run");
    // Closed here so that a client that left does not keep an instance until the next clean-up.
    pipe.close();
    running.store(false);
}

PipeWorker::ReadResult PipeWorker::read_request(uint8_t (&bytes)[24]) {
    const IoOutcome outcome = pipe.read(bytes, kPipeRecordSize, stop_event);
    if (outcome.kind == IoOutcome::kStopped) {
        log("worker terminated");
        return ReadResult::kNone;
    }
    if (outcome.kind == IoOutcome::kFailed) {
        log("pipe read error=%d", outcome.error);
    } else if (outcome.bytes == 0) {
        log("pipe read error size 0");
    } else if (outcome.bytes != kPipeRecordSize) {
        log("pipe read bad size");
    } else {
        return ReadResult::kRequest;
    }
    // Every further read would fail at once: end instead of spinning.
    return outcome.peer_gone ? ReadResult::kPeerGone : ReadResult::kNone;
}

void PipeWorker::write_reply(int result) {
    uint8_t bytes[kPipeRecordSize];
    encode_record(make_reply(result), bytes);
    const IoOutcome outcome = pipe.write(bytes, kPipeRecordSize, stop_event);
    if (outcome.kind == IoOutcome::kFailed) {
        log("write pipe error=%d", outcome.error);
    } else if (outcome.kind == IoOutcome::kDone && outcome.bytes == 0) {
        log("write pipe written size 0");
    } else if (outcome.kind == IoOutcome::kDone && outcome.bytes != kPipeRecordSize) {
        log("write pipe written size is not requested");
    }
}

}  // namespace quietway
