#include <windows.h>

#include "common/os/win_handle.h"
#include "service/pipe/pipe_channel.h"

namespace quietway {
namespace {

constexpr DWORD kOpenMode = FILE_FLAG_OVERLAPPED | PIPE_ACCESS_DUPLEX;
static_assert(kOpenMode == 0x40000003);
constexpr DWORD kMaxInstances = 10;
constexpr DWORD kBufferSize = 4096;
constexpr DWORD kDefaultTimeoutMs = 600000;
constexpr DWORD kWriteLimitMs = static_cast<DWORD>(kWriteLimit.count()) * 1000;
// The instance limit alone bounds the clients here; they are not told apart by account.
constexpr ClientLimits kClientLimits = {0, 0};

// Waits for an overlapped operation, and for the stop signal, up to `limit_ms`. When the stop
// or the limit wins, the operation is cancelled and waited for, because the kernel still
// writes into `overlapped` until then; one that completed before the limit counts as done.
IoOutcome finish_overlapped(HANDLE file, OVERLAPPED& overlapped, HANDLE stop, DWORD limit_ms) {
    IoOutcome outcome;
    HANDLE events[2] = {overlapped.hEvent, stop};
    const DWORD waited = WaitForMultipleObjects(2, events, FALSE, limit_ms);
    DWORD bytes = 0;
    if (waited == WAIT_OBJECT_0 + 1 || waited == WAIT_TIMEOUT) {
        CancelIo(file);
        const bool completed = GetOverlappedResult(file, &overlapped, &bytes, TRUE) != FALSE;
        if (waited != WAIT_TIMEOUT) {
            outcome.kind = IoOutcome::kStopped;
        } else if (completed) {
            outcome.kind = IoOutcome::kDone;
            outcome.bytes = bytes;
        } else {
            outcome.error = ERROR_TIMEOUT;
        }
        return outcome;
    }
    if (GetOverlappedResult(file, &overlapped, &bytes, FALSE)) {
        outcome.kind = IoOutcome::kDone;
        outcome.bytes = bytes;
    } else {
        outcome.error = static_cast<int>(GetLastError());
    }
    return outcome;
}

// Runs one overlapped call (`start` issues it) with a fresh manual-reset event.
template <class Start>
IoOutcome overlapped_io(HANDLE file, HANDLE stop, DWORD limit_ms, Start start) {
    IoOutcome outcome;
    WinHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!event.valid()) {
        outcome.error = static_cast<int>(GetLastError());
        return outcome;
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.get();
    if (!start(&overlapped) && GetLastError() != ERROR_IO_PENDING) {
        outcome.error = static_cast<int>(GetLastError());
        return outcome;
    }
    return finish_overlapped(file, overlapped, stop, limit_ms);
}

bool is_peer_gone(int error) {
    return error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED ||
           error == ERROR_NO_DATA || error == ERROR_INVALID_HANDLE;
}

}  // namespace

struct StopSignal::State {
    WinHandle event;
};

StopSignal::StopSignal() : state_(std::make_unique<State>()) {
    state_->event.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
}
StopSignal::~StopSignal() = default;
void StopSignal::set() { SetEvent(state_->event.get()); }
bool StopSignal::valid() const { return state_->event.valid(); }

bool StopSignal::wait(std::chrono::milliseconds limit) const {
    return WaitForSingleObject(state_->event.get(), static_cast<DWORD>(limit.count())) ==
           WAIT_OBJECT_0;
}

struct PipeConnection::State {
    WinHandle pipe;
};

PipeConnection::PipeConnection() : state_(std::make_unique<State>()) {}
PipeConnection::~PipeConnection() = default;
void PipeConnection::close() { state_->pipe.reset(); }

IoOutcome PipeConnection::read(uint8_t* buffer, size_t size, const StopSignal& stop) {
    const HANDLE pipe = state_->pipe.get();
    IoOutcome outcome =
        overlapped_io(pipe, stop.state().event.get(), INFINITE, [&](OVERLAPPED* overlapped) {
            return ReadFile(pipe, buffer, static_cast<DWORD>(size), nullptr, overlapped);
        });
    outcome.peer_gone = outcome.kind == IoOutcome::kFailed && is_peer_gone(outcome.error);
    return outcome;
}

IoOutcome PipeConnection::write(const uint8_t* buffer, size_t size, const StopSignal& stop) {
    const HANDLE pipe = state_->pipe.get();
    return overlapped_io(
        pipe, stop.state().event.get(), kWriteLimitMs, [&](OVERLAPPED* overlapped) {
            return WriteFile(pipe, buffer, static_cast<DWORD>(size), nullptr, overlapped);
        });
}

struct PipeListener::State {
    SECURITY_DESCRIPTOR descriptor{};
    SECURITY_ATTRIBUTES attributes{};
    WinHandle instance;
};

PipeListener::PipeListener() : state_(std::make_unique<State>()) {
    // A null access list: every local account may open the pipe.
    InitializeSecurityDescriptor(&state_->descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&state_->descriptor, TRUE, nullptr, FALSE);
    state_->attributes.nLength = sizeof(SECURITY_ATTRIBUTES);
    state_->attributes.lpSecurityDescriptor = &state_->descriptor;
    state_->attributes.bInheritHandle = TRUE;
}

PipeListener::~PipeListener() = default;

bool PipeListener::create_instance(int& error) {
    state_->instance.reset(CreateNamedPipeA(pipe_path(), kOpenMode, 0, kMaxInstances, kBufferSize,
                                            kBufferSize, kDefaultTimeoutMs, &state_->attributes));
    if (!state_->instance.valid()) {
        error = static_cast<int>(GetLastError());
        return false;
    }
    return true;
}

AcceptOutcome PipeListener::accept(PipeConnection& connection, const StopSignal& stop) {
    // A connect event of its own, waited on together with the stop event: sharing the stop
    // event would let a stop that lands before the connect starts be reset and lost.
    const HANDLE pipe = state_->instance.get();
    const IoOutcome waited =
        overlapped_io(pipe, stop.state().event.get(), INFINITE,
                      [&](OVERLAPPED* overlapped) { return ConnectNamedPipe(pipe, overlapped); });
    AcceptOutcome outcome;
    if (waited.kind == IoOutcome::kStopped) {
        outcome.kind = AcceptOutcome::kStopped;
        return outcome;
    }
    // A client that came before the connect is reported as already connected, and no
    // completion follows: it is served like any other.
    if (waited.kind == IoOutcome::kDone || waited.error == ERROR_PIPE_CONNECTED) {
        connection.state().pipe.reset(state_->instance.release());
        outcome.kind = AcceptOutcome::kConnected;
        return outcome;
    }
    outcome.error = waited.error;
    return outcome;
}

void PipeListener::close_instance() { state_->instance.reset(); }

bool PipeListener::instances_busy(int error) { return error == ERROR_PIPE_BUSY; }

ClientLimits client_limits() { return kClientLimits; }

}  // namespace quietway
