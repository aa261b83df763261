#pragma once

#include <functional>
#include <string>
#include <vector>

#include "service/dns/pushed_dns_posix.h"
#include "service/dns/resolv_conf_posix.h"
#include "service/dns/resolved_link_posix.h"

// The tunnel's name servers put in place and taken away again, under the state directory's
// lock: by quietway_dns when OpenVPN brings its device up and down, and by the engine when a
// tunnel ended without that (killed, or crashed together with the engine).
namespace quietway::dns {

struct ResolverPlaces {
    std::string resolv_conf = kResolvConf;
    std::string state_dir;
};

// Puts `servers` in place for `device`: per-link settings where systemd-resolved runs
// (`resolved`, else nullptr), and the resolver file where it is not resolved's own. What it
// replaces is saved first. `still_wanted` is asked with everything in place: false (the tunnel
// ended meanwhile) undoes it all. On any failure nothing of ours stays.
bool apply_tunnel_dns(const ResolverPlaces& places, const std::vector<DnsServer>& servers,
                      const std::string& device, ResolvedBus* resolved,
                      const std::function<bool()>& still_wanted);

// Puts back whatever was saved. True when nothing is left to put back; `restored` says whether
// anything was.
bool undo_tunnel_dns(const ResolverPlaces& places, bool& restored);

}  // namespace quietway::dns
