// Measures the kill switch on nftables: how long the whole set takes to install and remove
// with 10, 100 and 1000 permitted servers, what destroying the stopped object then costs, and
// what one blocked and one permitted outgoing connection attempt costs with each. Runs in throwaway
// network namespaces; needs root.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "firewall/filter_set/wfp_firewall.h"
#include "tests/firewall/lab/netns_lab.h"

namespace {

using Clock = std::chrono::steady_clock;
using quietway::WfpFirewall;

constexpr int kInstallRounds = 7;
constexpr int kAttempts = 2000;
constexpr uint16_t kPort = 7201;

double milliseconds_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Mean time of the connect() call of a non-blocking TCP socket, in microseconds. The SYN
// passes the output hook inside that call, so this is where the filter's cost shows.
double connect_cost_us(const char* address) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(kPort);
    inet_pton(AF_INET, address, &target.sin_addr);
    double total = 0;
    for (int i = 0; i < kAttempts; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) return -1;
        const Clock::time_point start = Clock::now();
        connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target);
        total += std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        close(fd);
    }
    return total / kAttempts;
}

// The firewall program's permits for `servers` servers; the first one is reachable.
void add_permits(WfpFirewall& firewall, int servers) {
    firewall.AddPermitIP("10.99.0.1", quietway::kPermitRemoteAddress);
    for (int i = 1; i < servers; ++i) {
        const std::string address =
            "100.64." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
        firewall.AddPermitIP(address.c_str(), quietway::kPermitRemoteAddress);
    }
    firewall.AddPermitIP("127.0.0.1", quietway::kPermitLocalAddress);
    firewall.AddPermitIP("10.0.0.1", quietway::kPermitRemoteAddress);
}

bool measure(int servers) {
    std::vector<double> installs;
    std::vector<double> removals;
    std::vector<double> releases;
    double blocked = 0;
    double permitted = 0;
    for (int round = 0; round < kInstallRounds; ++round) {
        auto firewall = std::make_unique<WfpFirewall>();
        add_permits(*firewall, servers);
        const Clock::time_point start = Clock::now();
        if (!firewall->StartFirewall()) {
            std::fprintf(stderr, "the filter set did not start with %d servers\n", servers);
            return false;
        }
        installs.push_back(milliseconds_since(start));
        if (round == kInstallRounds - 1) {
            blocked = connect_cost_us("10.99.0.3");
            permitted = connect_cost_us("10.99.0.1");
        }
        const Clock::time_point stop = Clock::now();
        firewall->StopFirewall();
        removals.push_back(milliseconds_since(stop));
        // What destroying the stopped object costs: whatever the stop left for later.
        const Clock::time_point release = Clock::now();
        firewall.reset();
        releases.push_back(milliseconds_since(release));
    }
    std::printf("%7d  %10.2f  %10.2f  %10.2f  %18.2f  %20.2f\n", servers, median(installs),
                median(removals), median(releases), blocked, permitted);
    return true;
}

}  // namespace

int main() {
    if (geteuid() != 0) {
        std::fprintf(stderr, "firewall_benchmark needs root (it creates network namespaces)\n");
        return 1;
    }
    // The run takes seconds; hold interruptions until the namespaces are gone again.
    sigset_t interruptions;
    sigemptyset(&interruptions);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&interruptions, signal);
    sigprocmask(SIG_BLOCK, &interruptions, nullptr);

    quietway::lab::NetnsLab net;
    if (!net.error().empty()) {
        std::fprintf(stderr, "lab set-up failed: %s\n", net.error().c_str());
        return 1;
    }
    quietway::lab::NetnsScope client(net.client());
    if (!client.entered()) return 1;

    std::printf(
        "kill switch on nftables: install/remove = median of %d rounds; connect = mean "
        "of %d non-blocking connect() calls\n",
        kInstallRounds, kAttempts);
    std::printf("without the switch: connect %.2f us\n", connect_cost_us("10.99.0.3"));
    std::printf(
        "servers  install ms   remove ms  release ms  blocked connect us  permitted connect "
        "us\n");
    for (int servers : {10, 100, 1000}) {
        if (!measure(servers)) return 1;
    }
    return 0;
}
