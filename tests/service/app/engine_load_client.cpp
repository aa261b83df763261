// Load on a running engine: control API calls from two clients and pipe status queries from
// several, paced so that they overlap a tunnel that another thread keeps starting and stopping
// through the API. Every API reply must be a well-formed answer with error 0 and every pipe
// reply a status the engine can give; retries after a pipe takeover are counted, not failed.
// Exits 0 when everything held and the tunnel connected and stopped at least once during the
// load. The engine's port and account come from its store (QUIETWAY_REGISTRY).
//   engine_load_client API_CALLS PIPE_COMMANDS PIPE_CLIENTS
#include <json/reader.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/net/base64.h"
#include "common/pipe/pipe_client.h"
#include "common/store/store.h"
#include "tests/service/rpc/raw_http_client.h"

namespace {

using namespace quietway;
using Clock = std::chrono::steady_clock;

constexpr int kApiClients = 2;
// Slow enough that the calls span several tunnel starts and stops.
constexpr int kApiCallsPerSecond = 300;
constexpr int kPipeStatusQuery = 3;
constexpr int kPipeAttempts = 50;
// Each read method with a member its reply must carry.
constexpr std::pair<const char*, const char*> kReadMethods[] = {
    {"get_general", "privacy_status"},
    {"get_servers", "servers"},
    {"get_active_server_state", "server_ip"},
    {"get_notifications", "notifications"},
    {"get_about_info", "version_info"}};

struct Endpoint {
    uint16_t port = 0;
    std::string authorization;
};

struct Tally {
    std::atomic<long> api_ok{0}, api_bad{0}, pipe_ok{0}, pipe_bad{0}, pipe_retries{0};
    std::atomic<unsigned> statuses_seen{0};  // bit n: privacy_status n seen by a reader
    std::mutex first_error_lock;
    std::string first_error;

    void fail(const std::string& what) {
        std::lock_guard lock(first_error_lock);
        if (first_error.empty()) first_error = what;
    }
};

bool read_endpoint(Endpoint& endpoint) {
    std::string listening, user, password, credentials;
    if (!get_setting_string("http", "rpc_port", listening) ||
        !get_setting_string("http", "rpc_user", user) ||
        !get_setting_string("http", "rpc_password", password) ||
        !base64_encode(user + ":" + password, credentials)) {
        return false;
    }
    const int port = std::atoi(listening.c_str() + listening.rfind(':') + 1);
    if (port <= 0 || port > 65535) return false;
    endpoint.port = static_cast<uint16_t>(port);
    endpoint.authorization = "Basic " + credentials;
    return true;
}

// One call; the reply object, or null with `error` set when the reply was not well formed or
// lacks `member`.
Json::Value call(const Endpoint& endpoint, const char* method, const char* member, int id,
                 std::string& error) {
    const std::string body = std::string(R"({"jsonrpc":"2.0","method":")") + method + R"(","id":)" +
                             std::to_string(id) + "}";
    const std::string request =
        "POST / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(endpoint.port) +
        "\r\nAuthorization: " + endpoint.authorization +
        "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    const testing::RawReply raw = testing::raw_exchange(endpoint.port, request);
    const std::string head = "HTTP/1.1 200 OK\r\n\r\n ";
    Json::Value reply;
    std::string parse_errors;
    std::istringstream text(raw.bytes.substr(raw.bytes.rfind(head, 0) == 0 ? head.size() : 0));
    if (!raw.connected || !raw.closed_by_server || raw.bytes.rfind(head, 0) != 0) {
        error = std::string(method) + ": no complete HTTP reply (" +
                std::to_string(raw.bytes.size()) + " bytes)";
    } else if (!Json::parseFromStream(Json::CharReaderBuilder(), text, &reply, &parse_errors) ||
               !reply.isObject()) {
        error = std::string(method) + ": the reply is not a JSON object";
    } else if (!reply.isMember(member)) {
        error = std::string(method) + ": the reply has no " + member;
    } else if (!reply["error"].isInt() || reply["error"].asInt() != 0) {
        error = std::string(method) + ": error " + reply["error"].toStyledString();
    } else {
        return reply;
    }
    return Json::Value();
}

// Spreads `count` steps of `work` over time at `per_second`.
template <typename Work>
void paced(long count, int per_second, Work work) {
    const auto start = Clock::now();
    for (long i = 0; i < count; ++i) {
        std::this_thread::sleep_until(start + std::chrono::microseconds(i * 1000000 / per_second));
        work(i);
    }
}

void api_client(const Endpoint& endpoint, long calls, int first_id, Tally& tally) {
    paced(calls, kApiCallsPerSecond, [&](long i) {
        const auto [method, member] = kReadMethods[i % std::size(kReadMethods)];
        std::string error;
        const Json::Value reply =
            call(endpoint, method, member, first_id + static_cast<int>(i), error);
        if (reply.isNull()) {
            ++tally.api_bad;
            tally.fail(error);
            return;
        }
        ++tally.api_ok;
        const int status = reply.get("privacy_status", 0).asInt();
        if (status >= 1 && status <= 3) tally.statuses_seen |= 1U << status;
    });
}

void pipe_client(long commands, int per_second, Tally& tally) {
    PipeClient client;
    paced(commands, per_second, [&](long) {
        int status = 0;
        for (int attempt = 0; attempt < kPipeAttempts; ++attempt) {
            if (client.send_command(kPipeStatusQuery, status)) {
                // Stopped, connecting, connected, no server selected, another user connected.
                const bool known = (status >= 1 && status <= 3) || status == 5 || status == 6;
                ++(known ? tally.pipe_ok : tally.pipe_bad);
                if (!known) tally.fail("pipe: status " + std::to_string(status));
                return;
            }
            ++tally.pipe_retries;  // another client took the channel over
        }
        ++tally.pipe_bad;
        tally.fail("pipe: no answer after " + std::to_string(kPipeAttempts) + " attempts");
    });
}

// Waits up to a minute for get_general to report `want`.
bool wait_status(const Endpoint& endpoint, int want) {
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (Clock::now() < deadline) {
        std::string error;
        const Json::Value reply = call(endpoint, "get_general", "privacy_status", 1, error);
        if (!reply.isNull() && reply.get("privacy_status", 0).asInt() == want) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

struct Cycles {
    int connected = 0, stopped = 0;
};

// Starts and stops the tunnel until the load is over; counts the states reached while it ran.
void switcher(const Endpoint& endpoint, const std::atomic<bool>& load_done, Cycles& cycles,
              Tally& tally) {
    while (!load_done.load()) {
        std::string error;
        if (call(endpoint, "start_privacy", "error", 1, error).isNull())
            tally.fail("switcher: " + error);
        const bool connected = wait_status(endpoint, 3);
        if (connected && !load_done.load()) ++cycles.connected;
        if (!connected) tally.fail("switcher: not connected within a minute");
        if (call(endpoint, "stop_privacy", "error", 1, error).isNull())
            tally.fail("switcher: " + error);
        const bool stopped = wait_status(endpoint, 1);
        if (stopped && !load_done.load()) ++cycles.stopped;
        if (!stopped) {
            tally.fail("switcher: not stopped within a minute");
            return;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const long api_calls = argc > 1 ? std::atol(argv[1]) : 0;
    const long pipe_commands = argc > 2 ? std::atol(argv[2]) : 0;
    const int pipe_clients = argc > 3 ? std::atoi(argv[3]) : 0;
    if (argc != 4 || api_calls < kApiClients || api_calls > 1000000 || pipe_commands < 1 ||
        pipe_commands > 100000 || pipe_clients < 1 || pipe_clients > 64) {
        std::fprintf(stderr, "usage: engine_load_client API_CALLS PIPE_COMMANDS PIPE_CLIENTS\n");
        return 2;
    }
    Endpoint endpoint;
    if (!read_endpoint(endpoint)) {
        std::fprintf(stderr, "cannot read the http settings (QUIETWAY_REGISTRY?)\n");
        return 1;
    }

    Tally tally;
    Cycles cycles;
    std::atomic<bool> load_done{false};
    const auto started = Clock::now();
    std::thread tunnel([&] { switcher(endpoint, load_done, cycles, tally); });
    // The pipe commands spread over the same time as the API calls.
    const long api_seconds = api_calls / kApiClients / kApiCallsPerSecond + 1;
    const int pipe_rate = static_cast<int>(pipe_commands / pipe_clients / api_seconds + 1);
    std::vector<std::thread> load;
    for (int c = 0; c < kApiClients; ++c) {
        load.emplace_back(api_client, std::cref(endpoint), api_calls / kApiClients,
                          1000 + c * static_cast<int>(api_calls), std::ref(tally));
    }
    for (int c = 0; c < pipe_clients; ++c) {
        const long share = pipe_commands / pipe_clients + (c < pipe_commands % pipe_clients);
        load.emplace_back(pipe_client, share, pipe_rate, std::ref(tally));
    }
    for (std::thread& thread : load) thread.join();
    load_done = true;
    tunnel.join();
    const std::chrono::duration<double> took = Clock::now() - started;

    const unsigned seen = tally.statuses_seen.load();
    std::printf("control API: %ld well-formed replies, %ld bad; statuses seen:%s%s%s\n",
                tally.api_ok.load(), tally.api_bad.load(), (seen & 2) ? " stopped" : "",
                (seen & 4) ? " connecting" : "", (seen & 8) ? " connected" : "");
    std::printf("pipe: %ld answered, %ld bad, %ld retries after a takeover (%d clients)\n",
                tally.pipe_ok.load(), tally.pipe_bad.load(), tally.pipe_retries.load(),
                pipe_clients);
    std::printf("tunnel during the load: connected %d times, stopped %d times; %.1f s\n",
                cycles.connected, cycles.stopped, took.count());
    if (!tally.first_error.empty()) std::printf("first error: %s\n", tally.first_error.c_str());
    const bool held = tally.api_bad == 0 && tally.pipe_bad == 0 && tally.first_error.empty() &&
                      tally.api_ok == api_calls / kApiClients * kApiClients &&
                      tally.pipe_ok == pipe_commands && cycles.connected > 0 &&
                      cycles.stopped > 0 && (seen & 2) != 0 && (seen & 8) != 0;
    return held ? 0 : 1;
}
