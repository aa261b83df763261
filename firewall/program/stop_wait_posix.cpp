#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "common/os/unique_fd.h"
#include "firewall/program/stop_wait.h"

namespace quietway {
namespace {

// One key press without Enter and without echo, restored on every path.
class RawTerminal {
public:
    explicit RawTerminal(int fd) : fd_(fd) {
        if (tcgetattr(fd_, &saved_) != 0) return;
        termios raw = saved_;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        active_ = tcsetattr(fd_, TCSANOW, &raw) == 0;
    }
    ~RawTerminal() {
        if (active_) tcsetattr(fd_, TCSANOW, &saved_);
    }
    RawTerminal(const RawTerminal&) = delete;
    RawTerminal& operator=(const RawTerminal&) = delete;

private:
    int fd_;
    termios saved_{};
    bool active_ = false;
};

// True when a key was read; false at the end of input or on a read error.
bool read_key(int fd) {
    char key = 0;
    ssize_t got = 0;
    do {
        got = read(fd, &key, 1);
    } while (got < 0 && errno == EINTR);
    return got == 1;
}

// Reading from the controlling terminal while in a background process group would stop
// the process; such a terminal gives no keys. Any other terminal can be read.
bool in_background(int fd) {
    const pid_t foreground = tcgetpgrp(fd);
    return foreground != -1 && foreground != getpgrp();
}

}  // namespace

void wait_for_key_or_stop() {
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);

    UniqueFd signals(signalfd(-1, &stops, SFD_CLOEXEC));
    bool watch_keys = isatty(STDIN_FILENO) == 1 && !in_background(STDIN_FILENO);
    if (signals.get() < 0) {
        // Without a signal descriptor only a stop signal can end the wait.
        int received = 0;
        while (sigwait(&stops, &received) != 0) {
        }
        return;
    }
    RawTerminal terminal(watch_keys ? STDIN_FILENO : -1);
    for (;;) {
        pollfd watched[2] = {{signals.get(), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        const int ready = poll(watched, watch_keys ? 2 : 1, -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            int received = 0;
            sigwait(&stops, &received);
            return;
        }
        if (watched[0].revents != 0) return;
        if (watch_keys && watched[1].revents != 0) {
            if (read_key(STDIN_FILENO)) return;
            watch_keys = false;  // input ended: keep holding until stopped or killed
        }
    }
}

}  // namespace quietway
