// quietway_dns: the program OpenVPN runs when our tunnel device comes up and goes down (Linux).
// The configuration written at provisioning names it:
//   up   "quietway_dns up STATE_DIR"     the pushed name servers become the machine's
//   down "quietway_dns down STATE_DIR"   what they replaced comes back
// OpenVPN appends its own arguments (device, MTU, addresses), which are not used; the device
// and the pushed options come from the environment it passes. Its output goes to OpenVPN's, and
// from there into the engine's log, so it never repeats text the VPN server sent.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "service/dns/dns_report_posix.h"
#include "service/dns/pushed_dns_posix.h"
#include "service/dns/resolved_link_posix.h"
#include "service/dns/tunnel_resolver_posix.h"

namespace {

using namespace quietway::dns;

void to_standard_error(const std::string& line) {
    std::fprintf(stderr, "quietway_dns: %s\n", line.c_str());
}

std::string joined(const std::vector<DnsServer>& servers) {
    std::string text;
    for (const DnsServer& server : servers) text += (text.empty() ? "" : " ") + server.text;
    return text;
}

bool up(const ResolverPlaces& places) {
    const PushedDns pushed =
        pushed_dns([](const std::string& name) { return std::getenv(name.c_str()); });
    if (pushed.refused > 0) {
        report("%d pushed name server(s) left out: not a plain unicast address, or more than %zu",
               pushed.refused, kMaxServers);
    }
    // Without a server of the tunnel's, names would still go to the network's resolver.
    if (pushed.servers.empty()) {
        report("the VPN server pushed no usable name server; the tunnel is not used");
        return false;
    }
    const char* device = std::getenv("dev");
    if (device == nullptr || !is_device_name(device)) {
        report("OpenVPN named no usable tunnel device");
        return false;
    }
    ResolvedBus resolved;
    const bool with_resolved = resolved.running();
    const pid_t client = ::getppid();
    if (!apply_tunnel_dns(places, pushed.servers, device, with_resolved ? &resolved : nullptr,
                          [client] { return ::getppid() == client; })) {
        return false;
    }
    report("names are resolved by %s through %s (%s)", joined(pushed.servers).c_str(), device,
           with_resolved ? "systemd-resolved" : places.resolv_conf.c_str());
    return true;
}

bool down(const ResolverPlaces& places) {
    bool restored = false;
    const bool done = undo_tunnel_dns(places, restored);
    if (restored) report("the resolver configuration from before the tunnel is back");
    return done;
}

}  // namespace

int main(int argc, char** argv) {
    set_report_sink(to_standard_error);
    if (argc < 3 || argv[2][0] != '/') {
        std::fprintf(stderr, "usage: quietway_dns up|down STATE_DIR\n");
        return 2;
    }
    const ResolverPlaces places{kResolvConf, argv[2]};
    if (std::strcmp(argv[1], "up") == 0) return up(places) ? 0 : 1;
    if (std::strcmp(argv[1], "down") == 0) return down(places) ? 0 : 1;
    std::fprintf(stderr, "usage: quietway_dns up|down STATE_DIR\n");
    return 2;
}
