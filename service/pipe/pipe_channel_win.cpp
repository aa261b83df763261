#include <windows.h>

#include "common/os/win_handle.h"
#include "service/pipe/pipe_channel.h"

namespace quietway {
namespace {

constexpr char kPipeName[] = "\\\\.\\pipe\\qwaypipe";
constexpr DWORD kOpenMode = FILE_FLAG_OVERLAPPED | PIPE_ACCESS_DUPLEX;
static_assert(kOpenMode == 0x40000003);
constexpr DWORD kMaxInstances = 10;
constexpr DWORD kBufferSize = 4096;
constexpr DWORD kDefaultTimeoutMs = 600000;

// Waits for an overlapped operation or the stop signal. When the stop wins, the operation is
// cancelled and waited for, because the kernel still writes into `overlapped` until then.
IoOutcome finish_overlapped(HANDLE file, OVERLAPPED& overlapped, HANDLE stop) {
    IoOutcome outcome;
    HANDLE events[2] = {overlapped.hEvent, stop};
    const DWORD waited = WaitForMultipleObjects(2, events, FALSE, INFINITE);
    DWORD bytes = 0;
    if (waited == WAIT_OBJECT_0 + 1) {
        CancelIo(file);
        GetOverlappedResult(file, &overlapped, &bytes, TRUE);
        outcome.kind = IoOutcome::kStopped;
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

struct PipeConnection::State {
    WinHandle pipe;
};

PipeConnection::PipeConnection() : state_(std::make_unique<State>()) {}
PipeConnection::~PipeConnection() = default;
void PipeConnection::close() { state_->pipe.reset(); }

IoOutcome PipeConnection::read(uint8_t* buffer, size_t size, const StopSignal& stop) {
    WinHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    IoOutcome outcome;
    if (!event.valid()) {
        outcome.error = static_cast<int>(GetLastError());
        return outcome;
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.get();
    const HANDLE pipe = state_->pipe.get();
    if (!ReadFile(pipe, buffer, static_cast<DWORD>(size), nullptr, &overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
        outcome.error = static_cast<int>(GetLastError());
    } else {
        outcome = finish_overlapped(pipe, overlapped, stop.state().event.get());
    }
    outcome.peer_gone = outcome.kind == IoOutcome::kFailed && is_peer_gone(outcome.error);
    return outcome;
}

IoOutcome PipeConnection::write(const uint8_t* buffer, size_t size) {
    WinHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    IoOutcome outcome;
    if (!event.valid()) {
        outcome.error = static_cast<int>(GetLastError());
        return outcome;
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.get();
    const HANDLE pipe = state_->pipe.get();
    if (!WriteFile(pipe, buffer, static_cast<DWORD>(size), nullptr, &overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
        outcome.error = static_cast<int>(GetLastError());
        return outcome;
    }
    DWORD bytes = 0;
    if (GetOverlappedResult(pipe, &overlapped, &bytes, TRUE)) {
        outcome.kind = IoOutcome::kDone;
        outcome.bytes = bytes;
    } else {
        outcome.error = static_cast<int>(GetLastError());
    }
    return outcome;
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
    state_->instance.reset(CreateNamedPipeA(kPipeName, kOpenMode, 0, kMaxInstances, kBufferSize,
                                            kBufferSize, kDefaultTimeoutMs, &state_->attributes));
    if (!state_->instance.valid()) {
        error = static_cast<int>(GetLastError());
        return false;
    }
    return true;
}

AcceptOutcome PipeListener::accept(PipeConnection& connection, const StopSignal& stop) {
    AcceptOutcome outcome;
    // A connect event of its own, waited on together with the stop event: sharing the stop
    // event would let a stop that lands before the connect starts be reset and lost.
    WinHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!event.valid()) {
        outcome.error = static_cast<int>(GetLastError());
        return outcome;
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.get();
    const HANDLE pipe = state_->instance.get();
    bool connected = ConnectNamedPipe(pipe, &overlapped) != FALSE;
    if (!connected) {
        const DWORD error = GetLastError();
        if (error == ERROR_PIPE_CONNECTED) {
            connected = true;  // the client came before the connect: no completion follows
        } else if (error == ERROR_IO_PENDING) {
            const IoOutcome waited = finish_overlapped(pipe, overlapped, stop.state().event.get());
            if (waited.kind == IoOutcome::kStopped) {
                outcome.kind = AcceptOutcome::kStopped;
                return outcome;
            }
            connected = waited.kind == IoOutcome::kDone || waited.error == ERROR_PIPE_CONNECTED;
            outcome.error = waited.error;
        } else {
            outcome.error = static_cast<int>(error);
        }
    }
    if (connected) {
        connection.state().pipe.reset(state_->instance.release());
        outcome.kind = AcceptOutcome::kConnected;
    }
    return outcome;
}

void PipeListener::close_instance() { state_->instance.reset(); }

const char* pipe_path() { return kPipeName; }

}  // namespace quietway
