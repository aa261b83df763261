// Times the two tunnel sessions against the lab's first server, for the OpenVPN client and for
// plink in both SSH modes, a few runs each: start to status 3, the part of that after the
// client printed its completion line, and stop to status 1. The programs are started through
// output_stamp, which notes when that line came. Run as root after `scripts/lab.sh up`, with
// lab.env exported:
//   set -a; . build/lab/lab.env; set +a; build/linux/benchmarks/privacy/sessions_benchmark
#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
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

// A client started through output_stamp, and the line that says it is connected.
struct Watched {
    const char* program;
    const char* token;
};
constexpr Watched kWatched[] = {
    {"openvpn", "Initialization Sequence Completed"},
    {"plink", "Access granted"},
};

fs::path stamp_file(const fs::path& work, const char* program) {
    return work / (std::string(program) + ".stamp");
}

// An app directory below `work` whose bin runs the lab's clients through output_stamp (found
// beside this program) and holds the lab's curl for provisioning and its quietway_dns, which
// the written OpenVPN configuration names.
bool make_app_dir(const fs::path& work, fs::path& app_dir) {
    std::error_code error;
    const fs::path stamp = fs::read_symlink("/proc/self/exe", error).parent_path() / "output_stamp";
    if (error || !fs::exists(stamp)) {
        std::fprintf(stderr, "output_stamp is not beside this program (build its target)\n");
        return false;
    }
    const fs::path lab_bin = fs::path(env("LAB_APP_DIR")) / "bin";
    app_dir = work / "app";
    fs::create_directories(app_dir / "bin", error);
    for (const char* tool : {"curl", "quietway_dns"}) {
        if (!error) fs::create_symlink(lab_bin / tool, app_dir / "bin" / tool, error);
    }
    for (const Watched& watched : kWatched) {
        if (error) break;
        fs::create_symlink(stamp, app_dir / "bin" / watched.program, error);
        std::string prefix = "QUIETWAY_STAMP_";
        for (const char* c = watched.program; *c != '\0'; ++c) {
            prefix += static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
        }
        setenv(prefix.c_str(), (lab_bin / watched.program).c_str(), 1);
        setenv((prefix + "_TOKEN").c_str(), watched.token, 1);
        setenv((prefix + "_FILE").c_str(), stamp_file(work, watched.program).c_str(), 1);
    }
    if (error) {
        std::fprintf(stderr, "cannot make %s: %s\n", app_dir.c_str(), error.message().c_str());
    }
    return !error;
}

bool seed(const fs::path& dir, const fs::path& app_dir) {
    return lab_bench::seed_settings(dir, app_dir.string()) &&
           create_server(ServerRecord{1, "lab 1", env("LAB_SERVER_IP"), "", 0});
}

// The steady clock's reading output_stamp wrote, if it wrote one.
std::optional<Clock::time_point> read_stamp(const fs::path& path) {
    std::ifstream in(path);
    long long ns = 0;
    if (!(in >> ns) || ns <= 0) return std::nullopt;
    return Clock::time_point(
        std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(ns)));
}

double ms_between(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// Remembers the latest status and when it was reported, and lets the caller wait for one.
class StatusClock final : public PrivacyObserver {
public:
    void on_privacy_status(int status) override {
        const auto now = Clock::now();
        {
            std::lock_guard lock(mutex_);
            status_ = status;
            at_ = now;
        }
        changed_.notify_all();
    }
    void on_same_user(bool) override {}
    void on_privacy_event(int) override {}

    // When the status became `wanted` (no earlier than `since`); none after 60 s.
    std::optional<Clock::time_point> wait_for(int wanted, Clock::time_point since) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::seconds(60), [&] { return status_ == wanted; })) {
            return std::nullopt;
        }
        return std::max(at_, since);
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int status_ = kPrivacyStopped;
    Clock::time_point at_;
};

// "-" for a time that did not come.
std::string column(std::optional<double> ms, int decimals) {
    if (!ms) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, *ms);
    return text;
}

void measure(const char* name, const fs::path& stamp, StatusClock& clock,
             const std::function<bool()>& start, const std::function<void()>& stop) {
    for (int run = 1; run <= 3; ++run) {
        std::error_code ignored;
        fs::remove(stamp, ignored);
        auto since = Clock::now();
        const auto connected =
            start() ? clock.wait_for(kPrivacyConnected, since) : std::optional<Clock::time_point>();
        std::optional<double> up, after_line;
        if (connected) {
            up = ms_between(since, *connected);
            if (const auto line = read_stamp(stamp)) after_line = ms_between(*line, *connected);
        }
        since = Clock::now();
        stop();
        const auto stopped = clock.wait_for(kPrivacyStopped, since);
        const std::optional<double> down =
            stopped ? std::optional<double>(ms_between(since, *stopped)) : std::nullopt;
        std::printf("%-8s %3d  %11s  %11s  %10s\n", name, run, column(up, 1).c_str(),
                    column(after_line, 3).c_str(), column(down, 1).c_str());
    }
}

}  // namespace

int main() {
    fs::path work;
    if (const int entered = lab_bench::enter_lab("qwsessions-bench", work); entered != 0) {
        return entered;
    }

    ServersManager manager;
    fs::path app_dir;
    int status = 0;
    if (!make_app_dir(work, app_dir)) {
        status = 1;
    } else if (!seed(work, app_dir) || !manager.init() ||
               !manager.apply_account(env("LAB_USER"), env("LAB_PASSWORD")) ||
               manager.active_server() == nullptr) {
        std::fprintf(stderr, "cannot provision the lab server\n");
        status = 1;
    } else {
        StatusClock clock;
        PrivacyVpn vpn(clock);
        PrivacySsh ssh(clock);
        const fs::path vpn_stamp = stamp_file(work, "openvpn");
        const fs::path ssh_stamp = stamp_file(work, "plink");
        std::printf("session  run  start->3 ms  line->3 ms  stop->1 ms   (- none)\n");
        measure(
            "openvpn", vpn_stamp, clock, [&] { return vpn.start(manager); }, [&] { vpn.stop(); });
        measure(
            "ssh", ssh_stamp, clock, [&] { return ssh.start(manager, false); },
            [&] { ssh.stop(); });
        measure(
            "ssh tor", ssh_stamp, clock, [&] { return ssh.start(manager, true); },
            [&] { ssh.stop(); });
    }
    std::error_code ignored;
    fs::remove_all(work, ignored);
    return status;
}
