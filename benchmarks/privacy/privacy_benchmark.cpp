// Times apply_account against the lab's two OpenVPN servers for lists of 1, 5 and 20 servers
// (the addresses alternate). Run as root after `scripts/lab.sh up`, with lab.env exported:
//   set -a; . build/lab/lab.env; set +a; build/linux/benchmarks/privacy/privacy_benchmark
#include <chrono>
#include <cstdio>
#include <filesystem>
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

}  // namespace

int main() {
    fs::path work;
    if (const int entered = lab_bench::enter_lab("qwprivacy-bench", work); entered != 0) {
        return entered;
    }

    std::printf("servers  apply_account ms  ready\n");
    int status = 0;
    for (int count : {1, 5, 20}) {
        const fs::path dir = work / std::to_string(count);
        ServersManager manager;
        if (!seed(dir, count) || !manager.init()) {
            std::fprintf(stderr, "cannot seed the store for %d servers\n", count);
            status = 1;
            break;
        }
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
        std::printf("%7d  %16lld  %5d\n", count, static_cast<long long>(ms), ready);
    }
    std::error_code ignored;
    fs::remove_all(work, ignored);
    return status;
}
