// A process's own CPU share and resident memory over a stretch of time, from /proc: meant for
// the engine while it idles, stopped or connected.
//   engine_idle_benchmark PID SECONDS [LABEL]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

// User plus system clock ticks of the process itself (children not counted).
bool cpu_ticks(long pid, unsigned long long& ticks) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(file, line)) return false;
    // The command name may hold blanks and parentheses: fields are counted after the last ')'.
    const size_t close = line.rfind(')');
    if (close == std::string::npos) return false;
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    // Fields 3.. of stat; utime and stime are fields 14 and 15.
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        if (number == 14) utime = std::strtoull(field.c_str(), nullptr, 10);
        if (number == 15) stime = std::strtoull(field.c_str(), nullptr, 10);
    }
    ticks = utime + stime;
    return static_cast<bool>(fields);
}

// A "Name:   N kB" line of /proc/PID/status, in kB; -1 when missing.
long status_kb(long pid, const char* name) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const std::string prefix = std::string(name) + ":";
    while (std::getline(file, line)) {
        if (line.rfind(prefix, 0) == 0) return std::atol(line.c_str() + prefix.size());
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    const long pid = argc > 2 ? std::atol(argv[1]) : 0;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 0;
    const char* label = argc > 3 ? argv[3] : "process";
    if (pid <= 0 || seconds <= 0 || seconds > 86400) {
        std::fprintf(stderr, "usage: engine_idle_benchmark PID SECONDS [LABEL]\n");
        return 2;
    }
    unsigned long long first = 0, last = 0;
    if (!cpu_ticks(pid, first)) {
        std::fprintf(stderr, "no process %ld\n", pid);
        return 1;
    }
    const auto started = std::chrono::steady_clock::now();
    long rss_max = 0;
    for (int i = 0; i < seconds; ++i) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const long rss = status_kb(pid, "VmRSS");
        if (rss < 0) {
            std::fprintf(stderr, "process %ld ended during the measurement\n", pid);
            return 1;
        }
        if (rss > rss_max) rss_max = rss;
    }
    if (!cpu_ticks(pid, last)) return 1;
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
    const double cpu_seconds = static_cast<double>(last - first) / sysconf(_SC_CLK_TCK);
    std::printf(
        "%s over %.0f s: CPU %.3f%% of one core (%.2f s), resident %ld kB now, %ld kB at "
        "most, peak %ld kB, %ld threads\n",
        label, elapsed.count(), 100.0 * cpu_seconds / elapsed.count(), cpu_seconds,
        status_kb(pid, "VmRSS"), rss_max, status_kb(pid, "VmHWM"), status_kb(pid, "Threads"));
    std::printf("goal: under 0.1%% of one core and under 16384 kB\n");
    return 0;
}
