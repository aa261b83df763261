#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "common/log/rotating_log.h"
#include "common/service_host/cnt_service.h"
#include "common/service_host/control_source.h"

namespace quietway {
namespace {

// Write end of the pipe through which the signal handler hands signals to the listener.
std::atomic<int> g_signal_pipe{-1};
static_assert(std::atomic<int>::is_always_lock_free, "used from a signal handler");

extern "C" void forward_signal(int signal_number) {
    const int saved_errno = errno;
    const int fd = g_signal_pipe.load();
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signal_number);
        [[maybe_unused]] const ssize_t ignored = write(fd, &byte, 1);
    }
    errno = saved_errno;
}

// Turns the given signals into stop controls, handled on a thread of its own like the
// service manager's control handler thread. Handlers (not a blocked mask) are used so that
// child processes start with the normal signal dispositions.
class SignalControl final : public ControlSource {
public:
    explicit SignalControl(CNTService& host) : host_(host) {}

    bool start(const std::vector<int>& signals) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return false;
        read_fd_ = fds[0];
        write_fd_ = fds[1];
        fcntl(write_fd_, F_SETFL, O_NONBLOCK);  // a flood of signals must not block a handler
        try {
            thread_ = std::thread([this] { listen(); });
        } catch (const std::system_error&) {
            return false;  // the destructor closes the pipe
        }
        g_signal_pipe.store(write_fd_);
        for (int signal_number : signals) install(signal_number);
        return true;
    }

    ~SignalControl() override {
        for (auto& [signal_number, action] : previous_) sigaction(signal_number, &action, nullptr);
        g_signal_pipe.store(-1);
        if (thread_.joinable()) {
            const unsigned char quit = 0;
            [[maybe_unused]] const ssize_t ignored = write(write_fd_, &quit, 1);
            thread_.join();
        }
        if (read_fd_ >= 0) close(read_fd_);
        if (write_fd_ >= 0) close(write_fd_);
    }

private:
    void install(int signal_number) {
        struct sigaction action {};
        action.sa_handler = forward_signal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        struct sigaction previous {};
        if (sigaction(signal_number, &action, &previous) == 0) {
            previous_.emplace_back(signal_number, previous);
        } else {
            log("service cannot handle signal %d, errno %d", signal_number, errno);
        }
    }

    void listen() {
        for (;;) {
            unsigned char byte = 0;
            const ssize_t got = read(read_fd_, &byte, 1);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0 || byte == 0) return;
            host_.control_handler(kControlStop);
        }
    }

    CNTService& host_;
    int read_fd_ = -1;
    int write_fd_ = -1;
    std::vector<std::pair<int, struct sigaction>> previous_;
    std::thread thread_;
};

std::unique_ptr<ControlSource> listen_for(CNTService& host, const std::vector<int>& signals) {
    auto control = std::make_unique<SignalControl>(host);
    if (!control->start(signals)) {
        log("service cannot listen for stop signals, errno %d", errno);
        return nullptr;
    }
    return control;
}

}  // namespace

std::unique_ptr<ControlSource> listen_for_service_stop(CNTService& host) {
    return listen_for(host, {SIGTERM});
}

std::unique_ptr<ControlSource> listen_for_console_stop(CNTService& host) {
    return listen_for(host, {SIGTERM, SIGINT});
}

}  // namespace quietway
