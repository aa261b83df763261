#include "benchmarks/privacy/lab_bench_support.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "common/log/rotating_log.h"
#include "common/store/server_store.h"
#include "common/store/store.h"

namespace quietway::lab_bench {

namespace {

bool put(const char* section, const char* name, const std::string& text) {
    return create_reg_string(RootKey::local_machine,
                             (std::string(kStoreRoot) + "\\" + section).c_str(), name, text);
}

}  // namespace

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

int enter_lab(const char* prefix, std::filesystem::path& work) {
    const std::string ns = env("LAB_CLIENT_NS");
    if (ns.empty() || env("LAB_USER").empty()) {
        std::fprintf(stderr, "export the lab's lab.env first (set -a; . build/lab/lab.env)\n");
        return 2;
    }
    const int fd = ::open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0) {
        if (fd >= 0) ::close(fd);
        std::fprintf(stderr, "cannot enter namespace %s (root, lab up?)\n", ns.c_str());
        return 1;
    }
    ::close(fd);
    work = std::filesystem::temp_directory_path() /
           (std::string(prefix) + "-" + std::to_string(getpid()));
    std::filesystem::create_directories(work / "home");
    setenv("HOME", (work / "home").c_str(), 1);  // plink's host-key cache
    setenv(kLogDirEnv, work.c_str(), 1);
    program_log().set_file_name(kServiceLogFile);
    return 0;
}

bool seed_settings(const std::filesystem::path& dir, const std::string& app_dir) {
    setenv(kRegistryEnv, (dir / "registry").c_str(), 1);
    return put("app", "app_dir", app_dir) && put("app", "app_data", (dir / "data").string()) &&
           put("conf", "ftp_port", env("LAB_FTP_PORT")) &&
           put("conf", "vpn_port", env("LAB_VPN_PORT")) &&
           put("conf", "proxy_port", env("LAB_PROXY_PORT")) &&
           put("conf", "ssh_port", env("LAB_SSH_PORT")) &&
           put("conf", "tor_port", env("LAB_TOR_PORT")) && put("general", "user", "") &&
           put("general", "password", "") && create_reg_dword(kServersPath, "activated", 0);
}

}  // namespace quietway::lab_bench
