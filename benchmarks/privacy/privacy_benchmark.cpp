// Times apply_account against the lab's two OpenVPN servers for lists of 1, 5 and 20 servers
// (the addresses alternate), with the processor time it took: this program and the curl and
// plink runs it started, and the lab's servers (every process in the server namespace, with
// the children they reaped). Run as root after `scripts/lab.sh up`, with lab.env exported:
//   set -a; . build/lab/lab.env; set +a; build/linux/benchmarks/privacy/privacy_benchmark
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "benchmarks/privacy/lab_bench_support.h"
#include "common/store/server_store.h"
#include "service/privacy/servers_manager.h"

namespace {

namespace fs = std::filesystem;
using namespace quietway;

using lab_bench::env;

// A fresh store and data directory below `dir` with `count` lab servers.
bool seed(const fs::path& dir, int count) {
    bool ok = lab_bench::seed_settings(dir, env("LAB_APP_DIR"));
    for (int id = 1; ok && id <= count; ++id) {
        const std::string ip = env(id % 2 == 1 ? "LAB_SERVER_IP" : "LAB_SERVER2_IP");
        ok = create_server(ServerRecord{id, "lab " + std::to_string(id), ip, "", 0});
    }
    return ok;
}

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

// User and system time of this process and of the children it has waited for.
double client_cpu_seconds() {
    double total = 0;
    for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        if (::getrusage(who, &usage) == 0)
            total += seconds(usage.ru_utime) + seconds(usage.ru_stime);
    }
    return total;
}

// User and system time, their reaped children's included, of every process in the network
// namespace `ns`: the servers' daemons and the connections they forked and waited for.
double namespace_cpu_seconds(const std::string& ns) {
    struct stat wanted {};
    if (::stat(("/run/netns/" + ns).c_str(), &wanted) != 0) return 0;
    const double tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
    double total = 0;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string pid = entry.path().filename().string();
        struct stat net {};
        if (pid.find_first_not_of("0123456789") != std::string::npos ||
            ::stat((entry.path() / "ns/net").c_str(), &net) != 0 || net.st_ino != wanted.st_ino ||
            net.st_dev != wanted.st_dev)
            continue;
        std::ifstream file(entry.path() / "stat");
        std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        const size_t end = text.rfind(')');
        if (end == std::string::npos) continue;
        // After the name: state, then fields 4-13, then utime, stime, cutime, cstime.
        std::istringstream fields(text.substr(end + 2));
        std::string skip;
        for (int i = 3; i <= 13; ++i) fields >> skip;
        double times[4] = {};
        for (double& t : times) fields >> t;
        total += (times[0] + times[1] + times[2] + times[3]) / tick;
    }
    return total;
}

}  // namespace

int main() {
    fs::path work;
    if (const int entered = lab_bench::enter_lab("qwprivacy-bench", work); entered != 0) {
        return entered;
    }

    std::printf("servers  apply_account ms  ready  client cpu s  servers cpu s\n");
    const std::string server_ns = env("LAB_SERVER_NS");
    int status = 0;
    for (int count : {1, 5, 20}) {
        const fs::path dir = work / std::to_string(count);
        ServersManager manager;
        if (!seed(dir, count) || !manager.init()) {
            std::fprintf(stderr, "cannot seed the store for %d servers\n", count);
            status = 1;
            break;
        }
        const double client_before = client_cpu_seconds();
        const double servers_before = namespace_cpu_seconds(server_ns);
        const auto started = std::chrono::steady_clock::now();
        manager.apply_account(env("LAB_USER"), env("LAB_PASSWORD"));
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - started)
                            .count();
        int ready = 0;
        for (int id = 1; id <= count; ++id) {
            ServerRecord record;
            if (read_server(std::to_string(id), record) && record.status == kServerReady) ++ready;
        }
        std::printf("%7d  %16lld  %5d  %12.2f  %13.2f\n", count, static_cast<long long>(ms), ready,
                    client_cpu_seconds() - client_before,
                    namespace_cpu_seconds(server_ns) - servers_before);
    }
    std::error_code ignored;
    fs::remove_all(work, ignored);
    return status;
}
