#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>

#include "common/os/unique_fd.h"
#include "service/pipe/pipe_channel.h"

namespace quietway {
namespace {

constexpr int kBacklog = 16;
constexpr int kResourceRetryMs = 100;
// Enough for the tray, quietway_ctl and a few scripts of one user; one account alone cannot
// take the engine's descriptors and threads, nor every place from the others.
constexpr ClientLimits kClientLimits = {64, 16};

// Waits until `fd` is ready for `events`, the stop signal fires or `timeout_ms` passes (-1:
// no limit); false when stopped.
bool wait_ready(int fd, short events, int stop_fd, int& error, int timeout_ms = -1) {
    pollfd fds[2] = {{fd, events, 0}, {stop_fd, POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, timeout_ms) >= 0) break;
        if (errno != EINTR) {
            error = errno;
            return true;
        }
    }
    error = 0;
    return (fds[1].revents & POLLIN) == 0;
}

int milliseconds_until(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool fill_address(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path)) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

std::string parent_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Creates the socket's directory when it is missing and accepts an existing one only when it
// is a real directory, not a link.
int prepare_directory(const std::string& directory) {
    if (::mkdir(directory.c_str(), 0755) == 0) {
        ::chmod(directory.c_str(), 0755);  // the umask must not narrow it
        return 0;
    }
    if (errno != EEXIST) return errno;
    struct stat info {};
    if (::lstat(directory.c_str(), &info) != 0) return errno;
    return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
}

// Removes a socket left by an earlier run. Anything that is not a socket (a file, a link) is
// left alone, and so is a socket that a live server still answers on.
int clear_stale(const std::string& path, const sockaddr_un& address) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return errno == ENOENT ? 0 : errno;
    if (!S_ISSOCK(info.st_mode)) return EEXIST;
    UniqueFd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!probe.valid()) return errno;
    if (::connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
        return EADDRINUSE;
    }
    if (errno != ECONNREFUSED) return errno;
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return errno;
    return 0;
}

}  // namespace

struct StopSignal::State {
    UniqueFd event;
};

StopSignal::StopSignal() : state_(std::make_unique<State>()) {
    state_->event.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
}
StopSignal::~StopSignal() = default;

void StopSignal::set() {
    // Never read back: once set it stays readable, like a manual-reset event.
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(state_->event.get(), &one, sizeof(one));
}

bool StopSignal::valid() const { return state_->event.valid(); }

bool StopSignal::wait(std::chrono::milliseconds limit) const {
    pollfd fd = {state_->event.get(), POLLIN, 0};
    return ::poll(&fd, 1, static_cast<int>(limit.count())) > 0 && (fd.revents & POLLIN) != 0;
}

struct PipeConnection::State {
    UniqueFd socket;
};

PipeConnection::PipeConnection() : state_(std::make_unique<State>()) {}
PipeConnection::~PipeConnection() = default;
void PipeConnection::close() { state_->socket.reset(); }

IoOutcome PipeConnection::read(uint8_t* buffer, size_t size, const StopSignal& stop) {
    IoOutcome outcome;
    const int fd = state_->socket.get();
    if (!wait_ready(fd, POLLIN, stop.state().event.get(), outcome.error)) {
        outcome.kind = IoOutcome::kStopped;
        return outcome;
    }
    if (outcome.error != 0) return outcome;
    ssize_t got;
    do {
        got = ::recv(fd, buffer, size, 0);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        outcome.error = errno;
        outcome.peer_gone = errno == ECONNRESET || errno == EPIPE || errno == EBADF;
        return outcome;
    }
    outcome.kind = IoOutcome::kDone;
    outcome.bytes = static_cast<size_t>(got);
    outcome.peer_gone = got == 0;  // end of stream
    return outcome;
}

IoOutcome PipeConnection::write(const uint8_t* buffer, size_t size, const StopSignal& stop) {
    IoOutcome outcome;
    const int fd = state_->socket.get();
    const auto deadline = std::chrono::steady_clock::now() + kWriteLimit;
    while (outcome.bytes < size) {
        const ssize_t sent =
            ::send(fd, buffer + outcome.bytes, size - outcome.bytes, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            outcome.bytes += static_cast<size_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR) continue;
        if (sent == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            outcome.error = sent == 0 ? EPIPE : errno;
            return outcome;
        }
        const int left_ms = milliseconds_until(deadline);
        if (left_ms == 0) {
            outcome.error = ETIMEDOUT;
            return outcome;
        }
        if (!wait_ready(fd, POLLOUT, stop.state().event.get(), outcome.error, left_ms)) {
            outcome.kind = IoOutcome::kStopped;
            return outcome;
        }
        if (outcome.error != 0) return outcome;
    }
    outcome.kind = IoOutcome::kDone;
    return outcome;
}

struct PipeListener::State {
    UniqueFd socket;
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
};

PipeListener::PipeListener() : state_(std::make_unique<State>()) {}

PipeListener::~PipeListener() {
    if (!state_->socket.valid()) return;
    // Only the socket this listener bound, never one a later server put in its place.
    struct stat info {};
    if (::lstat(state_->path.c_str(), &info) == 0 && info.st_dev == state_->device &&
        info.st_ino == state_->inode) {
        ::unlink(state_->path.c_str());
    }
}

bool PipeListener::create_instance(int& error) {
    // One listening socket serves every client; it is made on the first call only.
    if (state_->socket.valid()) return true;
    const std::string path = pipe_path();
    sockaddr_un address;
    if (!fill_address(path, address)) {
        error = ENAMETOOLONG;
        return false;
    }
    error = prepare_directory(parent_of(path));
    if (error == 0) error = clear_stale(path, address);
    if (error != 0) return false;
    UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    struct stat info {};
    if (!socket.valid() ||
        ::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        error = errno;
        return false;
    }
    // Open to every local user, as the Windows pipe's null access list is.
    if (::chmod(path.c_str(), 0666) != 0 || ::listen(socket.get(), kBacklog) != 0 ||
        ::lstat(path.c_str(), &info) != 0) {
        error = errno;
        ::unlink(path.c_str());
        return false;
    }
    state_->socket = std::move(socket);
    state_->path = path;
    state_->device = info.st_dev;
    state_->inode = info.st_ino;
    return true;
}

AcceptOutcome PipeListener::accept(PipeConnection& connection, const StopSignal& stop) {
    AcceptOutcome outcome;
    if (!wait_ready(state_->socket.get(), POLLIN, stop.state().event.get(), outcome.error)) {
        outcome.kind = AcceptOutcome::kStopped;
        return outcome;
    }
    if (outcome.error != 0) return outcome;
    const int client = ::accept4(state_->socket.get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
        outcome.error = errno;
        // Out of descriptors or memory the socket stays readable: pace the retries.
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            ::poll(nullptr, 0, kResourceRetryMs);
        }
        return outcome;
    }
    connection.state().socket.reset(client);
    ucred peer{};
    socklen_t length = sizeof(peer);
    if (::getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 &&
        length == sizeof(peer)) {
        outcome.peer_known = true;
        outcome.peer_user = peer.uid;
    }
    outcome.kind = AcceptOutcome::kConnected;
    return outcome;
}

bool PipeListener::instances_busy(int) { return false; }

ClientLimits client_limits() { return kClientLimits; }

// The listening socket outlives a single client; a failed accept leaves nothing to drop.
void PipeListener::close_instance() {}

}  // namespace quietway
