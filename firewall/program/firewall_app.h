#pragma once

#include <functional>
#include <memory>

#include "firewall/filter_set/wfp_firewall.h"

namespace quietway {

// The firewall program: reads the server list, installs the kill switch for every listed
// server, the loopback address and the VPN gateway, and holds it until `wait_for_stop`
// returns. The filter set comes from `make_firewall`. Always returns the exit code 0.
int run_firewall_app(const std::function<std::unique_ptr<WfpFirewall>()>& make_firewall,
                     const std::function<void()>& wait_for_stop);

}  // namespace quietway
