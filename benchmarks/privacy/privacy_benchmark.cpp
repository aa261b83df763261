// Times apply_account against the lab's two OpenVPN servers for lists of 1, 5 and 20 servers
// (the addresses alternate). Run as root after `scripts/lab.sh up`, with lab.env exported:
//   set -a; . build/lab/lab.env; set +a; build/linux/benchmarks/privacy/privacy_benchmark
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/log/rotating_log.h"
#include "common/store/server_store.h"
#include "common/store/store.h"
#include "service/privacy/servers_manager.h"

namespace {

namespace fs = std::filesystem;
using namespace quietway;

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

bool put(const char* section, const char* name, const std::string& text) {
    return create_reg_string(RootKey::local_machine,
                             (std::string(kStoreRoot) + "\\" + section).c_str(), name, text);
}

// A fresh store and data directory below `dir` with `count` lab servers.
bool seed(const fs::path& dir, int count) {
    setenv(kRegistryEnv, (dir / "registry").c_str(), 1);
    bool ok = put("app", "app_dir", env("LAB_APP_DIR")) &&
              put("app", "app_data", (dir / "data").string()) &&
              put("conf", "ftp_port", env("LAB_FTP_PORT")) &&
              put("conf", "vpn_port", env("LAB_VPN_PORT")) &&
              put("conf", "proxy_port", env("LAB_PROXY_PORT")) &&
              put("conf", "ssh_port", env("LAB_SSH_PORT")) &&
              put("conf", "tor_port", env("LAB_TOR_PORT")) && put("general", "user", "") &&
              put("general", "password", "") && create_reg_dword(kServersPath, "activated", 0);
    for (int id = 1; ok && id <= count; ++id) {
        const std::string ip = env(id % 2 == 1 ? "LAB_SERVER_IP" : "LAB_SERVER2_IP");
        ok = create_server(ServerRecord{id, "lab " + std::to_string(id), ip, "", 0});
    }
    return ok;
}

}  // namespace

int main() {
    const std::string ns = env("LAB_CLIENT_NS");
    if (ns.empty() || env("LAB_USER").empty()) {
        std::fprintf(stderr, "export the lab's lab.env first (set -a; . build/lab/lab.env)\n");
        return 2;
    }
    // The programs it starts must reach the lab: move into its client namespace.
    const int fd = ::open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0) {
        std::fprintf(stderr, "cannot enter namespace %s (root, lab up?)\n", ns.c_str());
        return 1;
    }
    ::close(fd);
    const fs::path work =
        fs::temp_directory_path() / ("qwprivacy-bench-" + std::to_string(getpid()));
    fs::create_directories(work / "home");
    setenv("HOME", (work / "home").c_str(), 1);  // plink's host-key cache
    setenv(kLogDirEnv, work.c_str(), 1);
    program_log().set_file_name(kServiceLogFile);

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
