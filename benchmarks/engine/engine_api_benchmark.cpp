// Control API throughput and latency: two client threads send get_general to the running
// engine for a number of seconds, one connection per request (the endpoint closes after each
// reply). The port and the account come from the engine's store (QUIETWAY_REGISTRY).
//   engine_api_benchmark [SECONDS]      (default 10)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "benchmarks/engine/latency_stats.h"
#include "common/net/base64.h"
#include "common/os/unique_fd.h"
#include "common/store/store.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kClients = 2;

struct Worker {
    std::vector<double> latencies_us;
    long failures = 0;
};

// "8988" or "127.0.0.1:8988": the number after the last colon.
int port_of(const std::string& listening) {
    const size_t colon = listening.rfind(':');
    const int port = std::atoi(listening.c_str() + (colon == std::string::npos ? 0 : colon + 1));
    return port > 0 && port < 65536 ? port : 0;
}

// One request on a fresh connection; true when the reply is a get_general answer with error 0.
bool call(const sockaddr_in& address, const std::string& request) {
    quietway::UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket.valid()) return false;
    const int one = 1;
    ::setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) !=
        0) {
        return false;
    }
    if (::send(socket.get(), request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size())) {
        return false;
    }
    std::string reply;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::recv(socket.get(), buffer, sizeof(buffer), 0);
        if (got <= 0) break;
        reply.append(buffer, static_cast<size_t>(got));
        if (reply.size() > 65536) return false;
    }
    return reply.rfind("HTTP/1.1 200 OK\r\n", 0) == 0 &&
           reply.find("\"error\":0") != std::string::npos &&
           reply.find("\"privacy_status\":") != std::string::npos;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    if (seconds <= 0 || seconds > 3600) {
        std::fprintf(stderr, "usage: engine_api_benchmark [SECONDS 1-3600]\n");
        return 2;
    }
    std::string listening, user, password, credentials;
    if (!quietway::get_setting_string("http", "rpc_port", listening) ||
        !quietway::get_setting_string("http", "rpc_user", user) ||
        !quietway::get_setting_string("http", "rpc_password", password) ||
        !quietway::base64_encode(user + ":" + password, credentials) || port_of(listening) == 0) {
        std::fprintf(stderr, "cannot read the http settings (QUIETWAY_REGISTRY?)\n");
        return 1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port_of(listening)));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string body = R"({"jsonrpc":"2.0","method":"get_general","id":1})";
    const std::string request =
        "POST / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_of(listening)) +
        "\r\nAuthorization: Basic " + credentials +
        "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\n\r\n" + body;
    if (!call(address, request)) {
        std::fprintf(stderr, "the engine does not answer get_general on port %d\n",
                     port_of(listening));
        return 1;
    }

    std::vector<Worker> workers(kClients);
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    const auto started = Clock::now();
    for (Worker& worker : workers) {
        threads.emplace_back([&] {
            while (!stop.load()) {
                const auto begin = Clock::now();
                const bool ok = call(address, request);
                const std::chrono::duration<double, std::micro> took = Clock::now() - begin;
                if (ok) {
                    worker.latencies_us.push_back(took.count());
                } else {
                    ++worker.failures;
                }
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    stop = true;
    for (std::thread& thread : threads) thread.join();
    const std::chrono::duration<double> elapsed = Clock::now() - started;

    std::vector<double> all;
    long failures = 0;
    for (Worker& worker : workers) {
        all.insert(all.end(), worker.latencies_us.begin(), worker.latencies_us.end());
        failures += worker.failures;
    }
    std::printf("control API get_general, %d clients, %.1f s: %zu answered, %ld failed, %.0f/s\n",
                kClients, elapsed.count(), all.size(), failures,
                static_cast<double>(all.size()) / elapsed.count());
    quietway::bench::print_latencies("control API get_general latency", all);
    std::printf("goal: at least 5000/s, p99 under 5000 us\n");
    return failures == 0 ? 0 : 1;
}
