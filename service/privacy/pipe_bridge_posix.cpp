#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <thread>

#include "common/os/unique_fd.h"
#include "common/process/spawn_posix.h"
#include "service/privacy/pipe_bridge_child.h"

namespace quietway {
namespace {

constexpr int kGraceMs = 300;
constexpr int kGraceStepMs = 20;

// Whether the child has ended, without reaping it: the bridge alone reaps, so its process id
// stays ours until then.
bool has_ended_unreaped(pid_t pid) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == pid;
}

}  // namespace

struct BridgeWake::State {
    UniqueFd event;  // readable while set
};

BridgeWake::BridgeWake() : state_(std::make_unique<State>()) {
    // Without it a stop is seen at the end of the current wait, as with a plain sleep.
    state_->event.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
}

BridgeWake::~BridgeWake() = default;

void BridgeWake::set() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(state_->event.get(), &one, sizeof one);
}

void BridgeWake::clear() {
    uint64_t count = 0;  // reading takes the counter back to zero
    [[maybe_unused]] const ssize_t got = ::read(state_->event.get(), &count, sizeof count);
}

bool BridgeWake::wait(int ms) const {
    pollfd wake{state_->event.get(), POLLIN, 0};
    return ::poll(&wake, 1, ms) > 0;
}

struct BridgeChild::State {
    UniqueFd read_end;
    UniqueFd write_end;
    pid_t pid = -1;  // -1 once reaped or never started
};

BridgeChild::BridgeChild() : state_(std::make_unique<State>()) {}

BridgeChild::~BridgeChild() {
    terminate();
    close_pipe();
}

bool BridgeChild::create_pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    state_->read_end.reset(fds[0]);
    state_->write_end.reset(fds[1]);
    return true;
}

bool BridgeChild::launch(const std::string& program, const std::vector<std::string>& arguments) {
    posix::SpawnRequest request;
    request.path = program;
    request.args.reserve(arguments.size() + 1);
    request.args.push_back(program);
    request.args.insert(request.args.end(), arguments.begin(), arguments.end());
    request.stdout_fd = state_->write_end.get();
    request.stderr_fd = state_->write_end.get();
    // Ends the tunnel with the engine even when the engine is killed: its filters go with it.
    request.parent_death_signal = SIGTERM;
    const posix::SpawnResult result = posix::spawn_process(request);
    if (!result.ok) return false;
    state_->pid = result.pid;
    return true;
}

long BridgeChild::waiting(size_t capacity) {
    int count = 0;
    if (::ioctl(state_->read_end.get(), FIONREAD, &count) != 0 || count < 0) return -1;
    return static_cast<long>(static_cast<size_t>(count) < capacity ? count : capacity);
}

void BridgeChild::wait_for_output(const BridgeWake& wake, int timeout_ms) {
    pollfd ready[2] = {{state_->read_end.get(), POLLIN, 0}, {wake.state_->event.get(), POLLIN, 0}};
    ::poll(ready, 2, timeout_ms);  // an interruption only ends the wait early
}

long BridgeChild::read(char* buffer, size_t capacity) {
    for (;;) {
        const ssize_t got = ::read(state_->read_end.get(), buffer, capacity);
        if (got >= 0) return static_cast<long>(got);
        if (errno != EINTR) return -1;
    }
}

bool BridgeChild::has_exited() {
    if (state_->pid <= 0) return true;
    int status = 0;
    const pid_t r = ::waitpid(state_->pid, &status, WNOHANG);
    if (r == 0) return false;
    if (r == state_->pid || (r < 0 && errno == ECHILD)) state_->pid = -1;
    return state_->pid == -1;
}

ChildProcessInfo BridgeChild::info() const {
    ChildProcessInfo info;
    if (state_->pid > 0) info.process_id = static_cast<unsigned long>(state_->pid);
    return info;
}

void BridgeChild::close_thread_handle() {}  // a Linux child has no separate thread handle

void BridgeChild::terminate() {
    if (state_->pid <= 0) return;
    ::kill(state_->pid, SIGKILL);
    int status = 0;
    while (::waitpid(state_->pid, &status, 0) < 0 && errno == EINTR) {
    }
    state_->pid = -1;
}

void BridgeChild::close_process() {}  // reaped by terminate

void BridgeChild::close_pipe() {
    state_->read_end.reset();
    state_->write_end.reset();
}

void ask_child_to_close(const ChildProcessInfo& child) {
    const auto pid = static_cast<pid_t>(child.process_id);
    if (pid <= 0 || ::kill(pid, SIGTERM) != 0) return;
    for (int waited = 0; waited < kGraceMs && !has_ended_unreaped(pid); waited += kGraceStepMs) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kGraceStepMs));
    }
}

}  // namespace quietway
