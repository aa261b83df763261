// Bytes a local client sends to the control API's HTTP endpoint, through the real server on a
// loopback port. Whatever arrives, the endpoint answers HTTP or closes; it runs a method only
// for a request carrying the exact authorization, hands the credential only to a GET, and
// every reply a method gives is valid JSON.
#include <arpa/inet.h>
#include <json/reader.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "common/os/file_io_posix.h"
#include "common/os/unique_fd.h"
#include "common/store/store.h"
#include "fuzz/fuzz_environment.h"
#include "fuzz/state_only_engine.h"
#include "service/rpc/rpc_http_server.h"

namespace {

using namespace quietway;

// "fuzz:pass" in the Basic scheme.
constexpr std::string_view kAuthorization = "Basic ZnV6ejpwYXNz";
constexpr std::string_view kCredentialBase64 = "ZnV6ejpwYXNz";
constexpr std::string_view kApiReplyStart = "HTTP/1.1 200 OK\r\n\r\n ";

uint16_t free_loopback_port() {
    const UniqueFd probe(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    fuzz::require(
        ::bind(probe.get(), reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            ::getsockname(probe.get(), reinterpret_cast<sockaddr*>(&address), &length) == 0,
        "a free loopback port");
    return ntohs(address.sin_port);
}

void seed_settings(uint16_t port) {
    const std::string dir = fuzz::environment();
    std::ofstream(dir + "/index.html") << "<html></html>\n";
    const std::pair<const char*, std::string> values[] = {
        {"access_control_list", "-0.0.0.0/0,+127.0.0.0/8"},
        {"access_log_file", "unused-access.log"},
        {"document_root", dir},
        {"enable_directory_listing", "no"},
        {"error_log_file", dir + "/logs/http-error.log"},
        {"rpc_password", "pass"},
        {"rpc_port", "127.0.0.1:" + std::to_string(port)},
        {"rpc_user", "fuzz"},
    };
    for (const auto& [name, value] : values) {
        fuzz::require(set_setting_string("http", name, value), "the http settings are stored");
    }
}

uint16_t endpoint_port() {
    static const uint16_t port = [] {
        static fuzz::StateOnlyEngine engine;
        const uint16_t chosen = free_loopback_port();
        seed_settings(chosen);
        auto* server = new RpcHttpServer2(engine);
        fuzz::require(server->Start(), "the endpoint starts");
        return chosen;
    }();
    return port;
}

// Every connection leaves its address pair in TIME_WAIT for a minute; thousands a second from
// one source address would use up its ports, so the source moves through 127.0.0.0/8.
void bind_next_source(int fd) {
    static uint32_t next = 0;
    next = next % 0xFFFFFE + 1;
    sockaddr_in source{};
    source.sin_family = AF_INET;
    source.sin_addr.s_addr = htonl(0x7F000000U | next);
    fuzz::require(::bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) == 0,
                  "a loopback source address");
}

// libFuzzer's timeout alarm can interrupt a connect, which then goes on in the background.
bool connect_completes(int fd) {
    pollfd ready{fd, POLLOUT, 0};
    int polled = 0;
    do {
        polled = ::poll(&ready, 1, 10000);
    } while (polled < 0 && errno == EINTR);
    int error = 0;
    socklen_t length = sizeof error;
    if (polled != 1 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return false;
    errno = error;
    return error == 0;
}

UniqueFd connect_to(uint16_t port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    bind_next_source(fd.get());
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
        !(errno == EINTR && connect_completes(fd.get()))) {
        std::fprintf(stderr, "fuzz: connect: %s\n", std::strerror(errno));
        fuzz::require(false, "a client connects to the endpoint");
    }
    // A request that leaves the server waiting must not hang the run: libFuzzer's own
    // timeout reports it as a finding.
    timeval limit{20, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    return fd;
}

std::string exchange(uint16_t port, std::string_view request) {
    const UniqueFd client = connect_to(port);
    // The server may close early on a request it refuses.
    send_all(client.get(), request.data(), request.size());
    ::shutdown(client.get(), SHUT_WR);
    std::string reply;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::recv(client.get(), buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) continue;
        fuzz::require(got >= 0 || errno == ECONNRESET, "the endpoint answers or closes in time");
        if (got <= 0) break;
        reply.append(buffer, static_cast<size_t>(got));
    }
    return reply;
}

bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view request(reinterpret_cast<const char*>(data), size);
    const std::string reply = exchange(endpoint_port(), request);
    if (reply.empty()) return 0;
    const auto expect = [&reply](bool holds, const char* what) {
        // What the server said, for the finding's report.
        if (!holds) {
            std::fprintf(stderr, "fuzz: reply (%zu bytes): %.600s\n", reply.size(), reply.c_str());
        }
        fuzz::require(holds, what);
    };
    expect(starts_with(reply, "HTTP/"), "a reply is HTTP");
    // One request per connection: a method's reply needs the right header in this request.
    if (starts_with(reply, kApiReplyStart)) {
        expect(request.find(kAuthorization) != std::string_view::npos,
               "a method runs only with the authorization");
        std::istringstream body(reply.substr(kApiReplyStart.size()));
        Json::CharReaderBuilder builder;
        Json::Value parsed;
        std::string errors;
        expect(Json::parseFromStream(builder, body, &parsed, &errors), "a method's reply parses");
    }
    // A method's reply may echo the request's own text, so only a secret the request did not
    // carry counts.
    if (reply.find(kCredentialBase64) != std::string::npos &&
        request.find(kCredentialBase64) == std::string_view::npos) {
        // The server skips white space (isspace) before a request line.
        const size_t line = request.find_first_not_of(" \t\r\n\v\f");
        expect(line != std::string_view::npos && starts_with(request.substr(line), "GET "),
               "only a GET is given the credential");
    }
    return 0;
}
