#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>

#include "service/pipe/mutex.h"
#include "service/pipe/pipe_channel.h"

namespace quietway {

class PipeWorker;

class PipeWorkerObserver {
public:
    virtual ~PipeWorkerObserver() = default;
    // Ends every other worker of the same client id; false when `worker` was itself told to
    // stop before it got there.
    virtual bool kill_duplicates(PipeWorker& worker) = 0;
    virtual bool on_request(int command, int& result) = 0;
};

class PipeServerObserver {
public:
    virtual ~PipeServerObserver() = default;
    virtual bool on_pipe_command(int command, int& result) = 0;
};

// One connected client, served on a thread of its own. The thread shares its ownership, so
// that a worker given up by a stop (see PipeServer) lives until its thread ends.
class PipeWorker {
public:
    explicit PipeWorker(PipeWorkerObserver& observer) : observer(observer) {}

    void run();

    std::atomic<int32_t> id{0};
    PipeConnection pipe;
    StopSignal stop_event;
    PipeWorkerObserver& observer;
    std::atomic<bool> running{true};
    std::atomic<bool> stop_requested{false};
    // The client's local account as the channel named it; read by the accept thread only.
    bool peer_known = false;
    uint32_t peer_user = 0;

private:
    enum class ReadResult { kRequest, kNone, kPeerGone };
    ReadResult read_request(uint8_t (&bytes)[24]);
    void write_reply(int result);
};

class PipeServer : public PipeWorkerObserver {
public:
    explicit PipeServer(PipeServerObserver& observer);
    ~PipeServer() override;
    PipeServer(const PipeServer&) = delete;
    PipeServer& operator=(const PipeServer&) = delete;

    bool start();
    void stop();

    bool kill_duplicates(PipeWorker& worker) override;
    bool on_request(int command, int& result) override;

    bool running() const { return running_.load(); }
    // Workers in the list, ended ones included until the next clean-up.
    size_t worker_count();

private:
    void run();
    bool serve();
    // Makes the next instance; false when the channel is gone for good. While every instance
    // is taken it waits and tries again, so that idle clients never end the accept loop.
    bool make_instance(PipeListener& listener, bool& busy);
    // Adds the connected worker to the list, or refuses it (with a log line) when it would
    // pass the client limits; ended workers are dropped first.
    bool admit(const std::shared_ptr<PipeWorker>& worker);
    void start_worker(const std::shared_ptr<PipeWorker>& worker);
    void stop_all_workers();

    StopSignal stop_event_;
    std::atomic<bool> running_{true};
    std::atomic<bool> stop_requested_{false};
    std::atomic<bool> started_{false};
    const char* pipe_name_;
    std::list<std::shared_ptr<PipeWorker>> workers_;
    Mutex lock_;
    PipeServerObserver& observer_;
};

}  // namespace quietway
