// Control API throughput against an engine of its own: starts quietway_service -f on a private
// store, then two client threads call, one connection per call, for SECONDS each (default 5):
// the server's static file (the yardstick), get_general, and get_servers with 10 and with 100
// servers. Prints calls per second, the ratio to the static file, p50/p99 latency and the
// engine's processor time per call (which, unlike the rates, holds on a busy machine).
//   control_api_benchmark [SECONDS]      (Linux; the engine runs as the caller)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "benchmarks/engine/latency_stats.h"
#include "common/net/base64.h"
#include "common/os/unique_fd.h"
#include "common/process/run_program.h"
#include "common/store/server_store.h"
#include "common/store/store.h"

namespace {

namespace fs = std::filesystem;
using namespace quietway;
using Clock = std::chrono::steady_clock;
constexpr int kClients = 2;
// Keys written this long ago are settled: the store keeps their snapshots.
constexpr int kSettleSeconds = 3;
// Failed calls of every measurement: any makes the run fail and keeps its logs.
std::atomic<long> failures{0};
pid_t engine_pid = 0;

// User and system time the engine has used so far, in seconds; 0 when it cannot be read.
double engine_cpu_seconds() {
    std::ifstream stat("/proc/" + std::to_string(engine_pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return 0;
    // Fields after the command name, which may hold blanks: state is the first.
    const size_t close = line.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(line.substr(close + 1));
    std::string field;
    unsigned long long ticks = 0;
    for (int n = 3; n <= 15 && fields >> field; ++n) {
        if (n >= 14) ticks += std::strtoull(field.c_str(), nullptr, 10);
    }
    return static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

struct Call {
    std::string request;
    std::string must_contain;  // in a good reply
    size_t count = 0;          // times it must occur (at least)
};

size_t occurrences(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

bool call(const sockaddr_in& address, const Call& what) {
    UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int one = 1;
    if (!socket.valid() ||
        ::setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one)) != 0 ||
        ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) !=
            0 ||
        ::send(socket.get(), what.request.data(), what.request.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(what.request.size()))
        return false;
    std::string reply;
    char buffer[16384];
    for (ssize_t got; (got = ::recv(socket.get(), buffer, sizeof(buffer), 0)) > 0;) {
        reply.append(buffer, static_cast<size_t>(got));
        if (reply.size() > (1 << 20)) return false;
    }
    return reply.rfind("HTTP/1.1 200 OK\r\n", 0) == 0 &&
           occurrences(reply, what.must_contain) >= what.count;
}

// Calls per second of two clients over `seconds`; prints them with the latencies.
double measure(const char* label, const sockaddr_in& address, const Call& what, int seconds,
               double yardstick) {
    std::vector<std::vector<double>> latencies(kClients);
    const long failed_before = failures.load();
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    const double cpu_before = engine_cpu_seconds();
    const auto started = Clock::now();
    for (auto& mine : latencies) {
        threads.emplace_back([&] {
            while (!stop.load()) {
                const auto begin = Clock::now();
                if (call(address, what)) {
                    mine.push_back(
                        std::chrono::duration<double, std::micro>(Clock::now() - begin).count());
                } else {
                    ++failures;
                }
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    stop = true;
    for (std::thread& thread : threads) thread.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
    const double cpu = engine_cpu_seconds() - cpu_before;
    std::vector<double> all;
    for (const auto& mine : latencies) all.insert(all.end(), mine.begin(), mine.end());
    const double rate = static_cast<double>(all.size()) / elapsed;
    const double cpu_per_call = all.empty() ? 0 : cpu * 1e6 / static_cast<double>(all.size());
    std::printf("%-22s %8.0f calls/s  %5.2f of the static file  %ld failed  engine %4.0f us/call  ",
                label, rate, yardstick > 0 ? rate / yardstick : 1.0,
                failures.load() - failed_before, cpu_per_call);
    bench::print_latencies("latency", all);
    return rate;
}

std::string post(int port, const std::string& credentials, const char* method) {
    const std::string body =
        std::string(R"({"jsonrpc":"2.0","method":")") + method + R"(","id":1})";
    return "POST / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
           "\r\nAuthorization: Basic " + credentials +
           "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

int free_port() {
    UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof(address);
    if (!socket.valid() ||
        ::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return 0;
    return ntohs(address.sin_port);
}

bool add_servers(int from, int to) {
    for (int id = from; id <= to; ++id) {
        const std::string text = std::to_string(id);
        if (!create_server(
                ServerRecord{id, "server " + text,
                             "10.0." + std::to_string(id / 250) + "." + std::to_string(id % 250),
                             "", kServerReady}))
            return false;
    }
    return true;
}

// A store from the shipped defaults with this run's directories, port and 10 servers.
bool seed(const fs::path& work, int port) {
    setenv(kRegistryEnv, (work / "registry").c_str(), 1);
    setenv("QUIETWAY_LOG_DIR", (work / "log").c_str(), 1);
    setenv("QUIETWAY_PIPE", (work / "qwaypipe").c_str(), 1);
    fs::create_directories(work / "log");
    fs::create_directories(work / "web");
    std::ofstream(work / "web" / "bench.txt") << std::string(200, 'q') << "\n";
    const RunResult imported = run_program({QUIETWAY_REG_PROGRAM, "import", QUIETWAY_DEFAULTS_REG});
    const auto put = [](const char* section, const char* name, const std::string& text) {
        return set_setting_string(section, name, text);
    };
    return imported.started && imported.exit_code == 0 && put("app", "app_dir", work / "app") &&
           put("app", "app_data", work / "data") && put("http", "rpc_port", std::to_string(port)) &&
           put("http", "document_root", work / "web") &&
           put("http", "access_log_file", work / "log" / "access.log") &&
           put("http", "error_log_file", work / "log" / "error.log") &&
           create_reg_dword(kServersPath, "activated", 0) && add_servers(1, 10);
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 5;
    if (seconds <= 0 || seconds > 600) {
        std::fprintf(stderr, "usage: control_api_benchmark [SECONDS 1-600]\n");
        return 2;
    }
    const fs::path work = fs::temp_directory_path() / ("qwapi-bench-" + std::to_string(getpid()));
    const int port = free_port();
    std::string credentials;
    if (port == 0 || !seed(work, port) || !base64_encode("quietway:quietway", credentials)) {
        std::fprintf(stderr, "cannot seed a store in %s\n", work.c_str());
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(kSettleSeconds));
    const pid_t engine = ::fork();
    engine_pid = engine;
    if (engine == 0) {
        ::execl(QUIETWAY_SERVICE_PROGRAM, QUIETWAY_SERVICE_PROGRAM, "-f", nullptr);
        ::_exit(127);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const Call file{"GET /bench.txt HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                        "\r\nConnection: close\r\n\r\n",
                    std::string(200, 'q'), 1};
    const Call general{post(port, credentials, "get_general"), "\"privacy_status\":", 1};
    bool up = false;
    for (int i = 0; i < 120 && !up && engine > 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        up = call(address, general);
    }
    int status = 1;
    if (up) {
        std::printf("engine pid %d on port %d, %d clients, one connection per call, %d s each\n",
                    engine, port, kClients, seconds);
        const double yardstick = measure("static file", address, file, seconds, 0);
        measure("get_general", address, general, seconds, yardstick);
        measure("get_servers, 10", address,
                {post(port, credentials, "get_servers"), "\"status\":\"ready\"", 10}, seconds,
                yardstick);
        if (add_servers(11, 100)) {
            std::this_thread::sleep_for(std::chrono::seconds(kSettleSeconds));
            measure("get_servers, 100", address,
                    {post(port, credentials, "get_servers"), "\"status\":\"ready\"", 100}, seconds,
                    yardstick);
            measure("static file again", address, file, seconds, yardstick);
            status = failures.load() == 0 ? 0 : 1;
        }
    } else {
        std::fprintf(stderr, "the engine does not answer on port %d (logs in %s)\n", port,
                     work.c_str());
    }
    if (engine > 0) {
        ::kill(engine, SIGTERM);
        ::waitpid(engine, nullptr, 0);
    }
    if (status == 0) {
        fs::remove_all(work);
    } else {
        std::fprintf(stderr, "failed; the engine's logs are in %s\n", work.c_str());
    }
    return status;
}
