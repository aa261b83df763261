// Times the two tunnel sessions against the lab's first server: start to status 3 and stop to
// status 1, for the OpenVPN client and for plink in both SSH modes, a few runs each. Run as
// root after `scripts/lab.sh up`, with lab.env exported:
//   set -a; . build/lab/lab.env; set +a; build/linux/benchmarks/privacy/sessions_benchmark
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>

#include "benchmarks/privacy/lab_bench_support.h"
#include "common/store/server_store.h"
#include "service/privacy/privacy_ssh.h"
#include "service/privacy/privacy_vpn.h"
#include "service/privacy/servers_manager.h"

namespace {

namespace fs = std::filesystem;
using namespace quietway;
using Clock = std::chrono::steady_clock;

using lab_bench::env;

bool seed(const fs::path& dir) {
    return lab_bench::seed_settings(dir) &&
           create_server(ServerRecord{1, "lab 1", env("LAB_SERVER_IP"), "", 0});
}

// Remembers the latest status and lets the caller wait for one.
class StatusClock final : public PrivacyObserver {
public:
    void on_privacy_status(int status) override {
        {
            std::lock_guard lock(mutex_);
            status_ = status;
        }
        changed_.notify_all();
    }
    void on_same_user(bool) override {}
    void on_privacy_event(int) override {}

    // Milliseconds from `since` until the status is `wanted`; -1 after 60 s.
    long long wait_for(int wanted, Clock::time_point since) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::seconds(60), [&] { return status_ == wanted; })) {
            return -1;
        }
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int status_ = kPrivacyStopped;
};

void measure(const char* name, StatusClock& clock, const std::function<bool()>& start,
             const std::function<void()>& stop) {
    for (int run = 1; run <= 3; ++run) {
        auto since = Clock::now();
        const long long up = start() ? clock.wait_for(kPrivacyConnected, since) : -1;
        since = Clock::now();
        stop();
        const long long down = clock.wait_for(kPrivacyStopped, since);
        std::printf("%-8s %3d  %16lld  %15lld\n", name, run, up, down);
    }
}

}  // namespace

int main() {
    fs::path work;
    if (const int entered = lab_bench::enter_lab("qwsessions-bench", work); entered != 0) {
        return entered;
    }

    ServersManager manager;
    int status = 0;
    if (!seed(work) || !manager.init() ||
        !manager.apply_account(env("LAB_USER"), env("LAB_PASSWORD")) ||
        manager.active_server() == nullptr) {
        std::fprintf(stderr, "cannot provision the lab server\n");
        status = 1;
    } else {
        StatusClock clock;
        PrivacyVpn vpn(clock);
        PrivacySsh ssh(clock);
        std::printf("session  run  start->3 ms (-1 none)  stop->1 ms\n");
        measure(
            "openvpn", clock, [&] { return vpn.start(manager); }, [&] { vpn.stop(); });
        measure(
            "ssh", clock, [&] { return ssh.start(manager, false); }, [&] { ssh.stop(); });
        measure(
            "ssh tor", clock, [&] { return ssh.start(manager, true); }, [&] { ssh.stop(); });
    }
    std::error_code ignored;
    fs::remove_all(work, ignored);
    return status;
}
