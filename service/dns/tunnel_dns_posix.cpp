#include "common/log/rotating_log.h"
#include "service/dns/dns_state_posix.h"
#include "service/dns/tunnel_dns.h"
#include "service/dns/tunnel_resolver_posix.h"

namespace quietway {

bool restore_tunnel_dns(const std::string& app_data) {
    if (app_data.empty()) return true;
    bool restored = false;
    const bool done =
        dns::undo_tunnel_dns({dns::kResolvConf, dns::state_dir_of(app_data)}, restored);
    if (restored) log("the resolver configuration a tunnel had replaced is back");
    if (!done) log("the resolver configuration a tunnel replaced could not all be put back");
    return done;
}

}  // namespace quietway
