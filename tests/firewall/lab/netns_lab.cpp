#include "tests/firewall/lab/netns_lab.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <sstream>

#include "common/os/unique_fd.h"
#include "common/process/run_program.h"

namespace quietway::lab {
namespace {

std::string unique_suffix() {
    static std::atomic<int> counter{0};
    return std::to_string(getpid()) + "x" + std::to_string(counter++);
}

bool make_address(const char* text, uint16_t port, sockaddr_storage& out, socklen_t& length) {
    std::memset(&out, 0, sizeof out);
    auto* v4 = reinterpret_cast<sockaddr_in*>(&out);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&out);
    if (inet_pton(AF_INET, text, &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        length = sizeof *v4;
        return true;
    }
    if (inet_pton(AF_INET6, text, &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        length = sizeof *v6;
        return true;
    }
    return false;
}

}  // namespace

int run_program(const std::vector<std::string>& argv, std::string* output) {
    std::string captured;
    const RunResult result =
        quietway::run_program(argv, {.time_limit_ms = 120000, .output = &captured});
    if (output != nullptr) *output = captured;
    return result.started && !result.timed_out ? static_cast<int>(result.exit_code) : -1;
}

NetnsLab::NetnsLab() : client_("qwfwc" + unique_suffix()), server_("qwfws" + unique_suffix()) {
    if (!set_up() && error_.empty()) error_ = "lab set-up failed";
}

NetnsLab::~NetnsLab() {
    if (tun_fd_ >= 0) close(tun_fd_);
    run_program({"ip", "netns", "del", client_});
    run_program({"ip", "netns", "del", server_});
}

bool NetnsLab::run(const std::vector<std::string>& argv) {
    std::string output;
    if (run_program(argv, &output) == 0) return true;
    error_ = argv[0];
    for (size_t i = 1; i < argv.size(); ++i) error_ += " " + argv[i];
    error_ += ": " + output;
    return false;
}

bool NetnsLab::set_up() {
    const std::string& c = client_;
    const std::string& s = server_;
    if (!run({"ip", "netns", "add", c}) || !run({"ip", "netns", "add", s})) return false;
    if (!run({"ip", "link", "add", "qwc0", "netns", c, "type", "veth", "peer", "name", "qws0",
              "netns", s})) {
        return false;
    }
    for (const char* address : {"10.99.0.2/24", "10.0.77.2/24", "192.168.77.2/24"}) {
        if (!run({"ip", "-n", c, "addr", "add", address, "dev", "qwc0"})) return false;
    }
    for (const char* address :
         {"10.99.0.1/24", "10.99.0.3/24", "10.99.0.4/24", "10.0.77.1/24", "192.168.77.1/24"}) {
        if (!run({"ip", "-n", s, "addr", "add", address, "dev", "qws0"})) return false;
    }
    if (!run({"ip", "-n", c, "addr", "add", "fd00:99::2/64", "dev", "qwc0", "nodad"}) ||
        !run({"ip", "-n", s, "addr", "add", "fd00:99::1/64", "dev", "qws0", "nodad"})) {
        return false;
    }
    for (const std::string* ns : {&c, &s}) {
        if (!run({"ip", "-n", *ns, "link", "set", "lo", "up"})) return false;
        const std::string veth = ns == &c ? "qwc0" : "qws0";
        if (!run({"ip", "-n", *ns, "link", "set", veth, "up"})) return false;
    }
    if (!run({"ip", "-n", c, "tuntap", "add", "mode", "tun", "dev", kTunName}) ||
        !run({"ip", "-n", c, "addr", "add", "10.98.0.2/24", "dev", kTunName}) ||
        !run({"ip", "-n", c, "link", "set", kTunName, "up"})) {
        return false;
    }

    // Attach to the tun device from inside the client namespace, so that it has a carrier
    // and whatever is routed through it can be read here.
    NetnsScope inside(c);
    if (!inside.entered()) {
        error_ = "cannot enter " + c;
        return false;
    }
    tun_fd_ = open("/dev/net/tun", O_RDWR | O_CLOEXEC | O_NONBLOCK);
    ifreq request{};
    request.ifr_flags = IFF_TUN | IFF_NO_PI;
    std::strncpy(request.ifr_name, kTunName, IFNAMSIZ - 1);
    if (tun_fd_ < 0 || ioctl(tun_fd_, TUNSETIFF, &request) != 0) {
        error_ = std::string("cannot attach to the tun device: ") + std::strerror(errno);
        return false;
    }
    return true;
}

std::vector<uint8_t> NetnsLab::read_tun_packet(std::chrono::milliseconds limit) {
    std::vector<uint8_t> packet(2048);
    pollfd watched{tun_fd_, POLLIN, 0};
    if (tun_fd_ < 0 || poll(&watched, 1, static_cast<int>(limit.count())) <= 0) return {};
    const ssize_t got = read(tun_fd_, packet.data(), packet.size());
    packet.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return packet;
}

std::vector<std::string> NetnsLab::client_tables() const {
    // The text form: the JSON listing of this nft release breaks off at a table's flags.
    std::vector<std::string> names;
    std::string output;
    if (run_program({"ip", "netns", "exec", client_, "nft", "list", "tables"}, &output) != 0) {
        return names;
    }
    std::istringstream lines(output);
    std::string word;
    std::string family;
    std::string name;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        if (fields >> word >> family >> name && word == "table") names.push_back(name);
    }
    return names;
}

NetnsScope::NetnsScope(const std::string& name) {
    original_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const UniqueFd target(open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC));
    entered_ = original_ >= 0 && target.get() >= 0 && setns(target.get(), CLONE_NEWNET) == 0;
}

NetnsScope::~NetnsScope() {
    if (entered_) setns(original_, CLONE_NEWNET);
    if (original_ >= 0) close(original_);
}

TcpListener::TcpListener(uint16_t port) {
    fd_ = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return;
    const int on = 1;
    const int off = 0;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(fd_, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    sockaddr_in6 any{};
    any.sin6_family = AF_INET6;
    any.sin6_port = htons(port);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0 || listen(fd_, 64) != 0) {
        close(fd_);
        fd_ = -1;
        return;
    }
    acceptor_ = std::thread([this] {
        while (!stop_.load()) {
            pollfd watched{fd_, POLLIN, 0};
            if (poll(&watched, 1, 50) <= 0) continue;
            const int connection = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection >= 0) close(connection);
        }
    });
}

TcpListener::~TcpListener() {
    stop_.store(true);
    if (acceptor_.joinable()) acceptor_.join();
    if (fd_ >= 0) close(fd_);
}

bool tcp_connects(const char* address, uint16_t port, const char* source,
                  std::chrono::milliseconds limit) {
    sockaddr_storage target;
    socklen_t length = 0;
    if (!make_address(address, port, target, length)) return false;
    const UniqueFd fd(socket(target.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.get() < 0) return false;
    if (source != nullptr) {
        sockaddr_storage local;
        socklen_t local_length = 0;
        if (!make_address(source, 0, local, local_length) ||
            bind(fd.get(), reinterpret_cast<sockaddr*>(&local), local_length) != 0) {
            return false;
        }
    }
    if (connect(fd.get(), reinterpret_cast<sockaddr*>(&target), length) == 0) return true;
    if (errno != EINPROGRESS) return false;
    pollfd watched{fd.get(), POLLOUT, 0};
    if (poll(&watched, 1, static_cast<int>(limit.count())) <= 0) return false;
    int error = 0;
    socklen_t error_length = sizeof error;
    getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &error_length);
    return error == 0;
}

int udp_send_error(const char* address, uint16_t port) {
    sockaddr_storage target;
    socklen_t length = 0;
    if (!make_address(address, port, target, length)) return EINVAL;
    const UniqueFd fd(socket(target.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) return errno;
    const char datagram[] = "quietway";
    if (sendto(fd.get(), datagram, sizeof datagram, 0, reinterpret_cast<sockaddr*>(&target),
               length) < 0) {
        return errno;
    }
    return 0;
}

}  // namespace quietway::lab
