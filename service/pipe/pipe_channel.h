#pragma once

// The platform transport under the pipe server: a named pipe on Windows, a Unix stream socket
// elsewhere. Everything above it (records, workers, logging) is shared.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "common/pipe/pipe_path.h"

namespace quietway {

// A manual-reset wake-up that the blocking calls below observe.
class StopSignal {
public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    void set();
    // False when the platform could not make it: nothing could then wake a wait on it.
    bool valid() const;
    // Waits up to `limit` for the signal; true once it is set.
    bool wait(std::chrono::milliseconds limit) const;
    struct State;
    State& state() const { return *state_; }

private:
    std::unique_ptr<State> state_;
};

struct IoOutcome {
    enum Kind { kDone, kStopped, kFailed } kind = kFailed;
    size_t bytes = 0;
    int error = 0;
    bool peer_gone = false;  // end of stream or broken pipe: no further read can succeed
};

// The longest a reply may wait for room at the client's side.
inline constexpr std::chrono::seconds kWriteLimit{5};

// One connected client.
class PipeConnection {
public:
    PipeConnection();
    ~PipeConnection();
    PipeConnection(const PipeConnection&) = delete;
    PipeConnection& operator=(const PipeConnection&) = delete;

    IoOutcome read(uint8_t* buffer, size_t size, const StopSignal& stop);
    // Sent at once while the client's side has room. A client that never reads must not hold
    // a worker, and with it a stop: a write that cannot go on is given up after
    // kWriteLimit (failed, ETIMEDOUT or ERROR_TIMEOUT) or when `stop` is set (stopped).
    IoOutcome write(const uint8_t* buffer, size_t size, const StopSignal& stop);
    void close();

    struct State;
    State& state() const { return *state_; }

private:
    std::unique_ptr<State> state_;
};

struct AcceptOutcome {
    enum Kind { kConnected, kStopped, kFailed } kind = kFailed;
    int error = 0;
    // The local account of the connected client, where the platform names it (Linux).
    bool peer_known = false;
    uint32_t peer_user = 0;
};

// How many clients are served at once, in all and per local account (0: not counted). More
// are refused as they connect, so that no local user can take every descriptor or thread.
struct ClientLimits {
    size_t total;
    size_t per_user;
};
ClientLimits client_limits();

// The listening side.
class PipeListener {
public:
    PipeListener();
    ~PipeListener();
    PipeListener(const PipeListener&) = delete;
    PipeListener& operator=(const PipeListener&) = delete;

    // Makes an instance ready for the next client; false with the system error.
    bool create_instance(int& error);
    // Whether that error means every instance is taken (Windows' limit of 10): one is made
    // again once a client has left.
    static bool instances_busy(int error);
    // Waits for a client on that instance and hands it over to `connection`.
    AcceptOutcome accept(PipeConnection& connection, const StopSignal& stop);
    // Drops the instance that has no client.
    void close_instance();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace quietway
