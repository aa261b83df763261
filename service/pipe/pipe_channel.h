#pragma once

// The platform transport under the pipe server: a named pipe on Windows, a Unix stream socket
// elsewhere. Everything above it (records, workers, logging) is shared.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace quietway {

// A manual-reset wake-up that the blocking calls below observe.
class StopSignal {
public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    void set();
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

// One connected client.
class PipeConnection {
public:
    PipeConnection();
    ~PipeConnection();
    PipeConnection(const PipeConnection&) = delete;
    PipeConnection& operator=(const PipeConnection&) = delete;

    IoOutcome read(uint8_t* buffer, size_t size, const StopSignal& stop);
    // Not interrupted by a stop: a reply to a request that was carried out is always sent.
    IoOutcome write(const uint8_t* buffer, size_t size);
    void close();

    struct State;
    State& state() const { return *state_; }

private:
    std::unique_ptr<State> state_;
};

struct AcceptOutcome {
    enum Kind { kConnected, kStopped, kFailed } kind = kFailed;
    int error = 0;
};

// The listening side.
class PipeListener {
public:
    PipeListener();
    ~PipeListener();
    PipeListener(const PipeListener&) = delete;
    PipeListener& operator=(const PipeListener&) = delete;

    // Makes an instance ready for the next client; false with the system error.
    bool create_instance(int& error);
    // Waits for a client on that instance and hands it over to `connection`.
    AcceptOutcome accept(PipeConnection& connection, const StopSignal& stop);
    // Drops the instance that has no client.
    void close_instance();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Where the channel lives: the fixed pipe name on Windows; $QUIETWAY_PIPE or the default
// socket path elsewhere.
const char* pipe_path();

}  // namespace quietway
