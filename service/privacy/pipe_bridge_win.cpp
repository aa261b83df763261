#include <windows.h>

#include <algorithm>

#include "common/os/win_handle.h"
#include "common/process/quoted_command_line.h"
#include "common/process/spawn_win.h"
#include "service/privacy/pipe_bridge_child.h"

namespace quietway {
namespace {

constexpr DWORD kGraceMs = 300;
constexpr DWORD kTerminateWaitMs = 5000;
// An anonymous pipe cannot be waited on, so it is peeked at in steps of about one tick of the
// system timer.
constexpr int kPeekStepMs = 15;

}  // namespace

struct BridgeWake::State {
    WinHandle event;  // manual reset
};

BridgeWake::BridgeWake() : state_(std::make_unique<State>()) {
    state_->event.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
}

BridgeWake::~BridgeWake() = default;
void BridgeWake::set() { SetEvent(state_->event.get()); }
void BridgeWake::clear() { ResetEvent(state_->event.get()); }

bool BridgeWake::wait(int ms) const {
    // Without an event a stop is seen at the end of the current wait, as with a plain sleep.
    if (!state_->event.valid()) {
        Sleep(static_cast<DWORD>(ms));
        return false;
    }
    return WaitForSingleObject(state_->event.get(), static_cast<DWORD>(ms)) == WAIT_OBJECT_0;
}

struct BridgeChild::State {
    WinHandle read_end;
    WinHandle write_end;
    WinHandle process;
    WinHandle thread;
    DWORD process_id = 0;
    DWORD thread_id = 0;
};

BridgeChild::BridgeChild() : state_(std::make_unique<State>()) {}

BridgeChild::~BridgeChild() {
    close_thread_handle();
    terminate();
    close_process();
    close_pipe();
}

bool BridgeChild::create_pipe() {
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof(attributes);
    attributes.lpSecurityDescriptor = nullptr;
    attributes.bInheritHandle = TRUE;
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &attributes, 0)) return false;
    state_->read_end.reset(read_end);
    state_->write_end.reset(write_end);
    // The child needs only the write end; holding the read end would be of no use to it.
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    return true;
}

bool BridgeChild::launch(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<std::string> args;
    args.reserve(arguments.size() + 1);
    args.push_back(program);
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::string command_line;
    if (!build_command_line(args, command_line)) return false;

    STARTUPINFOA startup{};
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = nullptr;
    startup.hStdOutput = state_->write_end.get();
    startup.hStdError = state_->write_end.get();
    PROCESS_INFORMATION created{};
    // The write end only: a pipe instance of the pipe server held by a tunnel program would
    // keep its client from seeing the end of the connection for as long as the tunnel runs.
    if (!create_process_with_handles(program.c_str(), command_line, 0, startup,
                                     {state_->write_end.get()}, created)) {
        return false;
    }
    state_->process.reset(created.hProcess);
    state_->thread.reset(created.hThread);
    state_->process_id = created.dwProcessId;
    state_->thread_id = created.dwThreadId;
    return true;
}

long BridgeChild::waiting(size_t capacity) {
    char peeked[1024];
    const DWORD size = static_cast<DWORD>(capacity < sizeof(peeked) ? capacity : sizeof(peeked));
    DWORD copied = 0;
    if (!PeekNamedPipe(state_->read_end.get(), peeked, size, &copied, nullptr, nullptr)) {
        return -1;
    }
    return static_cast<long>(copied);
}

void BridgeChild::wait_for_output(const BridgeWake& wake, int timeout_ms) {
    for (int waited = 0; waited < timeout_ms; waited += kPeekStepMs) {
        DWORD available = 0;
        if (!PeekNamedPipe(state_->read_end.get(), nullptr, 0, nullptr, &available, nullptr) ||
            available > 0) {
            return;
        }
        if (wake.wait(std::min(kPeekStepMs, timeout_ms - waited))) return;
    }
}

long BridgeChild::read(char* buffer, size_t capacity) {
    DWORD got = 0;
    if (!ReadFile(state_->read_end.get(), buffer, static_cast<DWORD>(capacity), &got, nullptr)) {
        return -1;
    }
    return static_cast<long>(got);
}

bool BridgeChild::has_exited() {
    return !state_->process.valid() ||
           WaitForSingleObject(state_->process.get(), 0) == WAIT_OBJECT_0;
}

ChildProcessInfo BridgeChild::info() const {
    ChildProcessInfo info;
    info.process = state_->process.get();
    info.thread = state_->thread.get();
    info.process_id = state_->process_id;
    info.thread_id = state_->thread_id;
    return info;
}

void BridgeChild::close_thread_handle() { state_->thread.reset(); }

void BridgeChild::terminate() {
    if (!state_->process.valid()) return;
    // Termination is asynchronous; the run counts as over once the child is really gone.
    if (TerminateProcess(state_->process.get(), 0)) {
        WaitForSingleObject(state_->process.get(), kTerminateWaitMs);
    }
}

void BridgeChild::close_process() { state_->process.reset(); }

void BridgeChild::close_pipe() {
    state_->read_end.reset();
    state_->write_end.reset();
}

void ask_child_to_close(const ChildProcessInfo& child) {
    if (child.process == nullptr) return;
    PostThreadMessageA(child.thread_id, WM_QUIT, 0, 0);
    Sleep(kGraceMs);
}

}  // namespace quietway
