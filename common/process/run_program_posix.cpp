#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <thread>

#include "common/log/rotating_log.h"
#include "common/process/run_program.h"
#include "common/process/run_program_posix.h"
#include "common/process/spawn_posix.h"

namespace quietway {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPollMs = 20;

class Pipe {
public:
    Pipe() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) == 0) {
            read_ = fds[0];
            write_ = fds[1];
        }
    }
    ~Pipe() {
        close_read();
        close_write();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    bool ok() const { return read_ >= 0; }
    int read_end() const { return read_; }
    int write_end() const { return write_; }
    void close_read() { close_fd(read_); }
    void close_write() { close_fd(write_); }

private:
    static void close_fd(int& fd) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    int read_ = -1;
    int write_ = -1;
};

void set_nonblocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Writing to a child that has stopped reading must not kill the caller with SIGPIPE: the
// signal is blocked in this thread while the child runs, and one raised by our own writes is
// taken back afterwards.
class SigpipeGuard {
public:
    SigpipeGuard() {
        sigset_t pending;
        sigpending(&pending);
        was_pending_ = sigismember(&pending, SIGPIPE) == 1;
        sigset_t block;
        sigemptyset(&block);
        sigaddset(&block, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &block, &old_mask_);
    }
    ~SigpipeGuard() {
        if (!was_pending_) {
            sigset_t pipe_only;
            sigemptyset(&pipe_only);
            sigaddset(&pipe_only, SIGPIPE);
            const timespec now{0, 0};
            while (sigtimedwait(&pipe_only, nullptr, &now) == SIGPIPE) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &old_mask_, nullptr);
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

private:
    sigset_t old_mask_{};
    bool was_pending_ = false;
};

// Moves input into the child and output out of it until the child ends or time runs out.
class ChildIo {
public:
    ChildIo(Pipe& input, const std::string& text, Pipe& output, std::string* sink)
        : input_(input), text_(text), output_(output), sink_(sink) {
        if (input_.write_end() >= 0) set_nonblocking(input_.write_end());
        if (output_.read_end() >= 0) set_nonblocking(output_.read_end());
        if (text_.empty()) input_.close_write();
    }

    void pump(int timeout_ms) {
        pollfd fds[2];
        nfds_t count = 0;
        if (input_.write_end() >= 0) fds[count++] = {input_.write_end(), POLLOUT, 0};
        if (output_.read_end() >= 0) fds[count++] = {output_.read_end(), POLLIN, 0};
        if (::poll(fds, count, timeout_ms) <= 0) return;
        for (nfds_t i = 0; i < count; ++i) {
            if (fds[i].revents == 0) continue;
            if (fds[i].fd == input_.write_end()) {
                write_some();
            } else {
                read_some();
            }
        }
    }

    // Takes what is already in the pipe without waiting for its writers: a process the child
    // left behind may hold the pipe open for good.
    void drain() {
        while (output_.read_end() >= 0 && read_some()) {
        }
    }

private:
    void write_some() {
        const ssize_t n =
            ::write(input_.write_end(), text_.data() + written_, text_.size() - written_);
        if (n > 0) written_ += static_cast<size_t>(n);
        if ((n < 0 && errno != EAGAIN && errno != EINTR) || written_ == text_.size()) {
            input_.close_write();
        }
    }

    bool read_some() {
        char buffer[16384];
        const ssize_t n = ::read(output_.read_end(), buffer, sizeof(buffer));
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return false;
        if (n <= 0) {
            output_.close_read();
            return false;
        }
        const size_t room = kMaxCapturedOutput - sink_->size();
        sink_->append(buffer, static_cast<size_t>(n) < room ? static_cast<size_t>(n) : room);
        return true;
    }

    Pipe& input_;
    const std::string& text_;
    size_t written_ = 0;
    Pipe& output_;
    std::string* sink_;
};

bool child_ended(pid_t pid, int& status) {
    pid_t r;
    do {
        r = ::waitpid(pid, &status, WNOHANG);
    } while (r < 0 && errno == EINTR);
    // ECHILD: someone reaped it (SIGCHLD ignored); it is gone either way.
    return r == pid || (r < 0 && errno == ECHILD);
}

void end_group(pid_t pid, int& status) {
    if (::kill(-pid, SIGKILL) != 0 && errno != ESRCH) {
        // A child that cannot be signalled (it runs as another user and a capability is
        // missing) would hold the caller for as long as it likes: it is reaped aside instead.
        log("run_program: cannot end process group %d, error %d", static_cast<int>(pid), errno);
        std::thread([pid] {
            int ignored = 0;
            while (::waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
            }
        }).detach();
        status = SIGKILL;
        return;
    }
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

// Moves the child's input and output until it ends or its time runs out; returns its status.
int supervise(pid_t pid, ChildIo& io, uint32_t time_limit_ms, bool& timed_out) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(time_limit_ms);
    int status = 0;
    while (!child_ended(pid, status)) {
        if (time_limit_ms != 0 && Clock::now() >= deadline) {
            end_group(pid, status);
            timed_out = true;
            break;
        }
        io.pump(kPollMs);
    }
    io.drain();
    return status;
}

}  // namespace

RunResult run_program(const std::vector<std::string>& args, const RunOptions& options) {
    posix::SpawnRequest request;
    if (args.empty() || !posix::find_executable(args[0], request.path)) {
        RunResult result;
        result.error = ENOENT;
        return result;
    }
    request.args = args;
    return posix::run_spawn_request(request, options);
}

namespace posix {

RunResult run_spawn_request(SpawnRequest request, const RunOptions& options) {
    RunResult result;
    const std::string& name = request.args.empty() ? request.path : request.args[0];
    if (options.input.size() > kMaxProgramInput) {
        log("run_program: input of %d bytes for %s is too long, refused",
            static_cast<int>(options.input.size()), name.c_str());
        result.error = E2BIG;
        return result;
    }
    // An argument would end at its first NUL byte: refuse it rather than pass a shorter one.
    for (const std::string& arg : request.args) {
        if (arg.find('\0') != std::string::npos) {
            log("run_program: an argument for %s holds a NUL byte, refused", name.c_str());
            result.error = EINVAL;
            return result;
        }
    }
    Pipe input;
    Pipe output;
    if (!input.ok() || !output.ok()) {
        result.error = static_cast<uint32_t>(errno);
        return result;
    }
    request.stdin_fd = input.read_end();
    request.stdout_fd = options.output != nullptr ? output.write_end() : -1;
    request.stderr_fd = request.stdout_fd;
    request.new_process_group = true;

    SigpipeGuard sigpipe_guard;
    const SpawnResult started = spawn_process(request);
    input.close_read();
    output.close_write();
    if (!started.ok) {
        log("run_program: cannot start %s, error %d", name.c_str(), started.error);
        result.error = static_cast<uint32_t>(started.error);
        return result;
    }
    result.started = true;
    std::string discarded;
    if (options.output == nullptr) output.close_read();
    std::string& sink = options.output != nullptr ? *options.output : discarded;
    sink.clear();
    ChildIo io(input, options.input, output, &sink);
    result.exit_code =
        exit_code_of(supervise(started.pid, io, options.time_limit_ms, result.timed_out));
    return result;
}

}  // namespace posix
}  // namespace quietway
